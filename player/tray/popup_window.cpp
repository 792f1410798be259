#include "player/tray/popup_window.h"

#include "common/dialogs.h"
#include "common/program_launcher.h"
#include "common/program_names.h"

#include <kirasol/build_settings.h>

#include <QFileInfo>

namespace kirasol::tray {

QIcon loadMenuImage(const QString &folder, const QString &imageName) {
  for (const QString &sub : {QString(), QStringLiteral("/icons")}) {
    for (const char *ext : {".png", ".gif"}) {
      const QString path = folder + sub + u'/' + imageName + QLatin1String(ext);
      if (!QFileInfo::exists(path)) continue;
      const QPixmap pixmap(path);
      if (pixmap.isNull()) continue;
      QIcon icon(pixmap);
      // The same picture drawn at twice the size, for screens of more pixels
      // per point: the menu picks it there instead of enlarging the small one.
      QPixmap sharp(folder + sub + u'/' + imageName + QStringLiteral("@2x") + QLatin1String(ext));
      if (!sharp.isNull() && sharp.size() == pixmap.size() * 2) {
        sharp.setDevicePixelRatio(2.0);
        icon.addPixmap(sharp);
      }
      return icon;
    }
  }
  return {};
}

PopupWindow::PopupWindow(PlayerCommands &commands, ProgramLauncher &launcher, Dialogs &dialogs,
                         const QString &iconFolder, QWidget *parent)
    : QWidget(parent, Qt::Window),
      commands_(commands),
      launcher_(launcher),
      dialogs_(dialogs),
      iconFolder_(iconFolder) {
  setObjectName(QStringLiteral("frmPopup"));
  mPopupSys_ = new QMenu(QStringLiteral("&SysTray"), this);
  mPopupSys_->setObjectName(QStringLiteral("mPopupSys"));
  mPopupSys_->setAccessibleName(QStringLiteral("Kirasol Radio"));  // not its internal caption "SysTray"
  QMenu *m = mPopupSys_;

  addItem(m, "mVer", QStringLiteral("&V 1.1"))->setEnabled(false);
  connect(addItem(m, "mabout", QStringLiteral("&ผู้จัดทำ")), &QAction::triggered, this,
          [this] { commands_.showAbout(); });
  connect(addItem(m, "mUpdate", QStringLiteral("&อัพเดท")), &QAction::triggered, this, [this] { mUpdate_Click(); });
  connect(addItem(m, "mRequest", QStringLiteral("&ขอเพลง")), &QAction::triggered, this,
          [this] { commands_.showRequest(); });

  auto *play = new QMenu(QStringLiteral("&การเล่น"), m);
  play->setObjectName(QStringLiteral("mnuPlay"));
  play->menuAction()->setObjectName(QStringLiteral("mnuPlay"));
  m->addMenu(play);
  connect(addItem(play, "mPlay", QStringLiteral("&เล่น")), &QAction::triggered, this,
          [this] { commands_.pressPlay(); });
  connect(addItem(play, "mStop", QStringLiteral("&หยุด")), &QAction::triggered, this,
          [this] { commands_.pressStop(); });

  auto *skin = new QMenu(QStringLiteral("&เปลี่ยนสกิน"), m);
  skin->setObjectName(QStringLiteral("mSkin"));
  skin->menuAction()->setObjectName(QStringLiteral("mSkin"));
  m->addMenu(skin);
  addItem(skin, "mDefault", QStringLiteral("&Default"));  // there is only the one skin: nothing to do

  connect(addItem(m, "mChat", QStringLiteral("&ห้องแชท")), &QAction::triggered, this,
          [this] { OpenWebPage(QString::fromUtf8(settings::kChatUrl)); });
  connect(addItem(m, "mtv", QStringLiteral("&ดูวิโดรา")), &QAction::triggered, this,
          [this] { startProgram(programs::kTvPlayer); });
  connect(addItem(m, "mWebsite", QStringLiteral("&เข้าสู้เว็บไซต์")), &QAction::triggered, this,
          [this] { OpenWebPage(QString::fromUtf8(settings::kWebSite)); });
  connect(addItem(m, "mReccord", QStringLiteral("&บันทึกรายการ")), &QAction::triggered, this,
          [this] { commands_.showRecorder(); });

  auto *ontop = new QMenu(QStringLiteral("&โปรแกรมอยู่บนสุด"), m);
  ontop->setObjectName(QStringLiteral("mOntop"));
  ontop->menuAction()->setObjectName(QStringLiteral("mOntop"));
  m->addMenu(ontop);
  mOntop_On_ = addItem(ontop, "mOntop_On", QStringLiteral("&เปิด"));
  mOntop_Off_ = addItem(ontop, "mOntop_Off", QStringLiteral("&ปิด"));
  mOntop_On_->setCheckable(true);
  mOntop_Off_->setCheckable(true);
  // Always-on-top starts off unless the last run left it on. Where the
  // window system refuses it the items show the truth, off, and cannot be
  // chosen.
  const bool onTop = commands_.canStayOnTop() && commands_.isOnTop();
  mOntop_On_->setChecked(onTop);
  mOntop_Off_->setChecked(!onTop);
  ontop->menuAction()->setEnabled(commands_.canStayOnTop());
  connect(mOntop_On_, &QAction::triggered, this, [this] { mOntop(true); });
  connect(mOntop_Off_, &QAction::triggered, this, [this] { mOntop(false); });

  connect(addItem(m, "mPopExit", QStringLiteral("&ออกจากโปรแกรม")), &QAction::triggered, this,
          [this] { commands_.exitPlayer(); });

  SetMenuIcons();
}

QAction *PopupWindow::addItem(QMenu *menu, const char *name, const QString &caption) {
  QAction *a = menu->addAction(caption);
  a->setObjectName(QString::fromLatin1(name));
  return a;
}

void PopupWindow::popup(const QPoint &globalPos) { mPopupSys_->popup(globalPos); }

void PopupWindow::popupFromKeyboard(const QPoint &globalPos) {
  QAction *first = nullptr;
  for (QAction *a : mPopupSys_->actions()) {
    if (a->isVisible() && a->isEnabled() && !a->isSeparator()) {
      first = a;
      break;
    }
  }
  mPopupSys_->popup(globalPos, first);
  if (first) mPopupSys_->setActiveAction(first);
}

int PopupWindow::SetMenuIcons() {
  int attached = 0;
  for (const MenuIconSlot &slot : kMenuIconOrder) {
    if (SetMenuIcon(loadMenuImage(iconFolder_, QString::fromLatin1(slot.image)), 0, slot.position)) ++attached;
  }
  return attached;
}

bool PopupWindow::SetMenuIcon(const QIcon &image, int submenuPosition, int itemPosition) {
  // This window's menu bar holds exactly one menu, mPopupSys.
  if (submenuPosition != 0 || image.isNull()) return false;
  QList<QAction *> visible;
  for (QAction *a : mPopupSys_->actions()) {
    if (a->isVisible()) visible.append(a);
  }
  if (itemPosition < 0 || itemPosition >= visible.size()) return false;
  visible[itemPosition]->setIcon(image);
  return true;
}

void PopupWindow::OpenWebPage(const QString &address) {
  if (launcher_.openUrl(address)) return;
  dialogs_.message(nullptr, {QStringLiteral("ไม่สามารถเปิดเว็บไซต์ ") + address, QStringLiteral("Kirasol Radio"),
                             MessageIcon::Warning, MessageButtons::Ok});
}

void PopupWindow::startProgram(const char *bareName) {
  // A program that is not installed must not pass silently: the listener
  // learns which one is missing, and the player goes on.
  startProgramOrTell(launcher_, dialogs_, QString::fromUtf8(bareName));
}

void PopupWindow::mUpdate_Click() {
  // Ending the player without an updater to take over would leave the
  // listener with nothing running: report it and keep playing.
  if (!startProgramOrTell(launcher_, dialogs_, QString::fromUtf8(programs::kUpdater))) return;
  PlayerCommands &commands = commands_;
  deleteLater();  // unload frmPopup
  commands.endPlayer();
}

void PopupWindow::mOntop(bool on) {
  // The tick moves on every click, whether or not the state changes.
  mOntop_On_->setChecked(on);
  mOntop_Off_->setChecked(!on);
  commands_.setOnTop(on);
}

}  // namespace kirasol::tray
