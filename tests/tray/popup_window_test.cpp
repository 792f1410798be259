#include "player/tray/popup_window.h"
#include "player/tray/tray_icon.h"
#include "common/program_launcher.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"

#include <kirasol/build_settings.h>

#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QPointer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kirasol::tray {
namespace {

// Everything the menu asks for, in order, as short words.
struct Recorder final : PlayerCommands, ProgramLauncher {
  QStringList calls;
  QStringList missing;  // programs and addresses that fail to start
  void pressPlay() override { calls << "play"; }
  void pressStop() override { calls << "stop"; }
  void showAbout() override { calls << "about"; }
  void showRequest() override { calls << "request"; }
  void showRecorder() override { calls << "recorder"; }
  void setOnTop(bool on) override { calls << (on ? "ontop:on" : "ontop:off"); }
  bool onTop = false, onTopPossible = true;
  bool isOnTop() const override { return onTop; }
  bool canStayOnTop() const override { return onTopPossible; }
  void exitPlayer() override { calls << "exit"; }
  void endPlayer() override { calls << "end"; }
  bool startProgram(const QString &name, const QStringList &) override {
    calls << "start:" + name;
    return !missing.contains(name);
  }
  bool openUrl(const QString &url) override {
    calls << "url:" + url;
    return !missing.contains(url);
  }
};

class PopupTest : public ::testing::Test {
 protected:
  Recorder rec;
  test::ScriptedDialogs dialogs;
  QTemporaryDir icons;
  PopupWindow *make() { return new PopupWindow(rec, rec, dialogs, icons.path()); }
  QAction *item(PopupWindow *w, const char *name) {
    QAction *a = w->findChild<QAction *>(name);
    EXPECT_NE(a, nullptr) << name;
    return a;
  }
};

TEST_F(PopupTest, TwelveEntriesWithCaptionsSubmenusAndInitialState) {
  std::unique_ptr<PopupWindow> w(make());
  EXPECT_EQ(w->objectName(), "frmPopup");
  EXPECT_FALSE(w->isVisible());
  QMenu *m = w->mPopupSys();
  EXPECT_EQ(m->objectName(), "mPopupSys");
  EXPECT_EQ(m->title(), "&SysTray");
  struct Entry {
    const char *name;
    QString caption;
    QStringList submenu;
  };
  const Entry entries[] = {
      {"mVer", "&V 1.1", {}},
      {"mabout", "&ผู้จัดทำ", {}},
      {"mUpdate", "&อัพเดท", {}},
      {"mRequest", "&ขอเพลง", {}},
      {"mnuPlay", "&การเล่น", {"mPlay=&เล่น", "mStop=&หยุด"}},
      {"mSkin", "&เปลี่ยนสกิน", {"mDefault=&Default"}},
      {"mChat", "&ห้องแชท", {}},
      {"mtv", "&ดูวิโดรา", {}},
      {"mWebsite", "&เข้าสู้เว็บไซต์", {}},
      {"mReccord", "&บันทึกรายการ", {}},
      {"mOntop", "&โปรแกรมอยู่บนสุด", {"mOntop_On=&เปิด", "mOntop_Off=&ปิด"}},
      {"mPopExit", "&ออกจากโปรแกรม", {}},
  };
  const QList<QAction *> actions = m->actions();
  ASSERT_EQ(actions.size(), 12);
  for (int i = 0; i < 12; ++i) {
    SCOPED_TRACE(entries[i].name);
    EXPECT_EQ(actions[i]->objectName(), entries[i].name);
    EXPECT_EQ(actions[i]->text(), entries[i].caption);
    EXPECT_TRUE(actions[i]->isVisible());
    EXPECT_EQ(actions[i]->isEnabled(), i != 0) << "only the version label is greyed out";
    QStringList sub;
    if (QMenu *s = actions[i]->menu()) {
      for (QAction *a : s->actions()) sub << a->objectName() + "=" + a->text();
    }
    EXPECT_EQ(sub, entries[i].submenu);
  }
  EXPECT_TRUE(item(w.get(), "mOntop_Off")->isChecked());
  EXPECT_FALSE(item(w.get(), "mOntop_On")->isChecked());
}

TEST_F(PopupTest, EveryCommandGoesThroughItsSeam) {
  struct Case {
    const char *item;
    QStringList calls;
  };
  const Case cases[] = {
      {"mabout", {"about"}},
      {"mRequest", {"request"}},
      {"mPlay", {"play"}},
      {"mStop", {"stop"}},
      {"mDefault", {}},
      {"mChat", {QStringLiteral("url:") + settings::kChatUrl}},
      {"mtv", {"start:vidora"}},
      {"mWebsite", {QStringLiteral("url:") + settings::kWebSite}},
      {"mReccord", {"recorder"}},
      {"mPopExit", {"exit"}},
      {"mVer", {}},
  };
  std::unique_ptr<PopupWindow> w(make());
  for (const Case &c : cases) {
    rec.calls.clear();
    item(w.get(), c.item)->trigger();
    EXPECT_EQ(rec.calls, c.calls) << c.item;
  }
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(PopupTest, UpdateStartsTheUpdaterUnloadsTheMenuAndEndsThePlayer) {
  QPointer<PopupWindow> w(make());
  item(w, "mUpdate")->trigger();
  EXPECT_EQ(rec.calls, QStringList({"start:kirasol-update", "end"}));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(w.isNull());
}

TEST_F(PopupTest, MissingProgramsAreNamedAndThePlayerGoesOn) {
  rec.missing = {"vidora", "kirasol-update", QString::fromUtf8(settings::kWebSite)};
  std::unique_ptr<PopupWindow> w(make());
  item(w.get(), "mtv")->trigger();
  item(w.get(), "mUpdate")->trigger();
  item(w.get(), "mWebsite")->trigger();
  EXPECT_FALSE(rec.calls.contains("end"));
  ASSERT_EQ(dialogs.messages.size(), 3u);
  EXPECT_TRUE(dialogs.messages[0].text.contains("vidora"));
  EXPECT_TRUE(dialogs.messages[1].text.contains("kirasol-update"));
  EXPECT_TRUE(dialogs.messages[2].text.contains(settings::kWebSite));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(w->mPopupSys()->actions().size(), 12) << "the menu stays";
}

TEST_F(PopupTest, OnTopTicksMoveOnEveryClick) {
  std::unique_ptr<PopupWindow> w(make());
  QAction *on = item(w.get(), "mOntop_On");
  QAction *off = item(w.get(), "mOntop_Off");
  struct Step {
    QAction *click;
    bool onTicked;
    const char *call;
  };
  const Step steps[] = {{on, true, "ontop:on"}, {on, true, "ontop:on"}, {off, false, "ontop:off"},
                        {off, false, "ontop:off"}, {on, true, "ontop:on"}};
  for (const Step &s : steps) {
    rec.calls.clear();
    s.click->trigger();
    EXPECT_EQ(on->isChecked(), s.onTicked);
    EXPECT_EQ(off->isChecked(), !s.onTicked);
    EXPECT_EQ(rec.calls, QStringList{s.call});
  }
}

TEST_F(PopupTest, OnTopMenuShowsOffAndCannotBeChosenWhereTheWindowSystemRefusesIt) {
  // Remembered on from an X11 session, then started on Wayland.
  rec.onTop = true;
  for (bool possible : {true, false}) {
    rec.onTopPossible = possible;
    std::unique_ptr<PopupWindow> w(make());
    EXPECT_EQ(item(w.get(), "mOntop")->isEnabled(), possible);
    EXPECT_EQ(item(w.get(), "mOntop_On")->isChecked(), possible);
    EXPECT_EQ(item(w.get(), "mOntop_Off")->isChecked(), !possible);
  }
}

TEST_F(PopupTest, IconsByPositionAndAFailingOneDoesNotStopTheRest) {
  auto writeIcon = [&](const QString &relative, QSize size) {
    QImage img(size, QImage::Format_ARGB32);
    img.fill(Qt::red);
    ASSERT_TRUE(img.save(icons.path() + "/" + relative));
  };
  QDir(icons.path()).mkdir("icons");
  for (const MenuIconSlot &slot : kMenuIconOrder) {
    const QString name = QString::fromLatin1(slot.image);
    if (name == "imgChat") continue;                                  // missing
    if (name == "imgWeb") {                                            // unreadable
      ASSERT_TRUE(test::writeFile(icons.path() + "/imgWeb.png", "not a picture"));
      continue;
    }
    if (name == "imgTV") writeIcon("icons/imgTV.png", {13, 15});       // in the sub-folder
    else writeIcon(name + ".png", {14, 14});
  }
  std::unique_ptr<PopupWindow> w(make());
  const QList<QAction *> actions = w->mPopupSys()->actions();
  const bool expectIcon[12] = {false, true, true, true, true, true, false, true, false, true, true, true};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(!actions[i]->icon().isNull(), expectIcon[i]) << i;
  for (const char *sub : {"mPlay", "mStop", "mDefault", "mOntop_On", "mOntop_Off"})
    EXPECT_TRUE(item(w.get(), sub)->icon().isNull()) << sub;
  EXPECT_EQ(w->SetMenuIcons(), 9);
  EXPECT_FALSE(w->SetMenuIcon(QIcon(), 0, 1));
  EXPECT_FALSE(w->SetMenuIcon(actions[1]->icon(), 0, 12));
  EXPECT_FALSE(w->SetMenuIcon(actions[1]->icon(), 1, 1));
  EXPECT_TRUE(w->SetMenuIcon(actions[1]->icon(), 0, 6));
  EXPECT_FALSE(actions[6]->icon().isNull());
}

TEST_F(PopupTest, NoPicturesAtAllStillGivesTheMenu) {
  std::unique_ptr<PopupWindow> w(make());
  EXPECT_EQ(w->SetMenuIcons(), 0);
  EXPECT_EQ(w->mPopupSys()->actions().size(), 12);
}

TEST_F(PopupTest, TrayClicksRestoreTheWindowOrPopUpTheMenu) {
  QWidget mainWindow;
  mainWindow.resize(281, 172);
  int created = 0;
  TrayIcon tray(mainWindow, [&] {
    ++created;
    return make();
  });
  EXPECT_EQ(tray.systemTrayIcon().toolTip(), QStringLiteral("Kirasol Radio [ฟังเพลงออนไลน์ 24 ช.ม.]"));
  tray.Register(QIcon(QPixmap(16, 16)));
  EXPECT_TRUE(tray.isRegistered());
  EXPECT_EQ(created, 0) << "frmPopup waits for the first right click";

  // Right click while hidden: the menu opens, the main window stays hidden.
  emit tray.systemTrayIcon().activated(QSystemTrayIcon::Context);
  ASSERT_EQ(created, 1);
  EXPECT_TRUE(tray.popupWindow()->mPopupSys()->isVisible());
  EXPECT_FALSE(mainWindow.isVisible());
  tray.popupWindow()->mPopupSys()->hide();
  emit tray.systemTrayIcon().activated(QSystemTrayIcon::Context);
  EXPECT_EQ(created, 1) << "one frmPopup for the whole run";
  tray.popupWindow()->mPopupSys()->hide();

  // Left click and double click bring back a minimised, hidden window.
  for (auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick}) {
    mainWindow.showMinimized();
    mainWindow.hide();
    emit tray.systemTrayIcon().activated(reason);
    EXPECT_TRUE(mainWindow.isVisible()) << reason;
    EXPECT_FALSE(mainWindow.windowState() & Qt::WindowMinimized) << reason;
  }
  mainWindow.hide();
  emit tray.systemTrayIcon().activated(QSystemTrayIcon::MiddleClick);
  EXPECT_FALSE(mainWindow.isVisible());
  tray.Remove();
  EXPECT_FALSE(tray.isRegistered());
}

}  // namespace
}  // namespace kirasol::tray
