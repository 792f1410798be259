#include "player/side_windows/credits_window.h"
#include "player/side_windows/on_demand_window.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"

#include <QLabel>
#include <QPointer>
#include <QSet>
#include <QTest>
#include <gtest/gtest.h>

namespace kirasol::side {
namespace {

using test::ScriptedDialogs;

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

class CreditsWindowTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  ScriptedDialogs dialogs;
  void writeCredits(const QByteArray &bytes) {
    ASSERT_TRUE(test::writeFile(dir.path() + "/Credits.txt", bytes));
  }
};

TEST_F(CreditsWindowTest, MissingFileReportsAndStaysStill) {
  auto *w = new CreditsWindow(dialogs, dir.path());
  QPointer<CreditsWindow> guard(w);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "Could not load Credits");
  EXPECT_EQ(dialogs.messages[0].title, " Credits Demo");
  EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Critical);
  EXPECT_EQ(w->scroll(), nullptr);
  EXPECT_FALSE(w->Timer1()->isActive());
  EXPECT_EQ(w->objectName(), "frmAbout");
  const QStringList captions{"Kirasol Radio Player", "Version 1.1", "Kirasol Studio", "Exit", "ผู้จัดทำโปรแกรม"};
  for (int i = 0; i < 5; ++i) {
    auto *label = w->findChild<QLabel *>(QStringLiteral("Label1_%1").arg(i));
    ASSERT_NE(label, nullptr) << i;
    EXPECT_EQ(label->text(), captions[i]);
  }
  delete w;
}

TEST_F(CreditsWindowTest, LoadsTheFileAndScrollsEvery10ms) {
  writeCredits("Kirasol Radio\r\n\xE0\xB8\x82\xE0\xB8\xAD\xE0\xB8\x9A\xE0\xB8\x84\xE0\xB8\xB8\xE0\xB8\x93\r\n");
  CreditsWindow w(dialogs, dir.path());
  EXPECT_TRUE(dialogs.messages.empty());
  ASSERT_NE(w.scroll(), nullptr);
  EXPECT_EQ(w.Timer1()->interval(), 10);
  EXPECT_TRUE(w.Timer1()->isActive());
  const auto *s = w.scroll();
  EXPECT_EQ(s->CreditCount(), s->VisibleLines() + 2);
  EXPECT_EQ(s->CreditLines().at(s->VisibleLines() + 1), QStringLiteral("ขอบคุณ"));
  EXPECT_TRUE(test::waitUntil([&] { return s->ScrollY() <= -30; }, std::chrono::seconds(5)));
}

TEST_F(CreditsWindowTest, FadedLineIsDrawnInABlendedColour) {
  QByteArray text;
  for (int i = 0; i < 20; ++i) text += "WWWWWWWWWWWW\r\n";  // wide, dense glyphs
  writeCredits(text);
  CreditsWindow w(dialogs, dir.path());
  w.Timer1()->stop();  // ticks are driven by hand
  const CreditsScroll *s = w.scroll();
  ASSERT_NE(s, nullptr);
  const QRgb textColor = w.picCredits()->textColor().rgb();
  const QRgb back = w.picCredits()->backColor().rgb();
  const double boxHeight = w.picCredits()->height() * double(kTwipsPerPixel);

  // Scroll until a text line lies wholly inside the box in a colour strictly
  // between the background and the text colour.
  std::optional<QRgb> faded;
  for (int tick = 0; tick < 2000 && !faded; ++tick) {
    w.Timer1_Timer();
    for (const DrawnLine &l : s->frame()) {
      if (l.text.isEmpty() || l.fadeIndex < 20 || l.fadeIndex > 80) continue;
      if (l.y < 0 || l.y + s->LineHeight() > boxHeight) continue;
      faded = l.color;
      break;
    }
  }
  ASSERT_TRUE(faded);
  ASSERT_NE(*faded, textColor);
  ASSERT_NE(*faded, back);
  for (int shift : {16, 8, 0}) {
    auto channel = [shift](QRgb c) { return int((c >> shift) & 0xFF); };
    EXPECT_GT(channel(*faded), std::min(channel(textColor), channel(back)));
    EXPECT_LT(channel(*faded), std::max(channel(textColor), channel(back)));
  }
  const QImage picture = w.picCredits()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  QSet<QRgb> colours;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x) colours.insert(picture.pixel(x, y) | 0xFF000000u);
  EXPECT_TRUE(colours.contains(*faded | 0xFF000000u)) << "faded colour " << std::hex << *faded;
  EXPECT_TRUE(colours.contains(back | 0xFF000000u));
}

TEST_F(CreditsWindowTest, AnyClickClosesAndTheNextRequestRebuilds) {
  writeCredits("x\n");
  OnDemandWindow<CreditsWindow> about([&] { return new CreditsWindow(dialogs, dir.path()); });
  for (const char *target : {"", "Label1_3", "Label1_0", "Label2", "picCredits"}) {
    SCOPED_TRACE(target);
    CreditsWindow *w = about.show();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(about.show(), w) << "a second request reuses the open window";
    QPointer<CreditsWindow> guard(w);
    QWidget *clicked = *target ? w->findChild<QWidget *>(target) : w;
    ASSERT_NE(clicked, nullptr);
    QTest::mouseClick(clicked, Qt::LeftButton, {}, *target ? QPoint(2, 2) : QPoint(5, w->height() - 3));
    flushDeletes();
    EXPECT_TRUE(guard.isNull());
    EXPECT_FALSE(about.isOpen());
  }
  EXPECT_TRUE(dialogs.messages.empty());
}

}  // namespace
}  // namespace kirasol::side
