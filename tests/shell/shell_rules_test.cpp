// The shell's plain rules: layering results, the colour key, the splash's
// counters and fade, the clock, the marquee and the debugger test.

#include "player/shell/instance_guard.h"
#include "player/shell/layering.h"
#include "player/shell/main_window_rules.h"
#include "player/shell/splash_sequence.h"

#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

namespace kirasol {
namespace {

TEST(Layering, SetWindowAlphaResults) {
  QWidget window;
  window.show();
  struct Case {
    int level, result;
    double opacityAfter;
  };
  const Case cases[] = {
      {128, kAlphaApplied, 128 / 255.0},
      {256, kAlphaOutOfRange, 128 / 255.0},  // unchanged
      {-10, kAlphaOutOfRange, 128 / 255.0},
      {255, kAlphaApplied, 1.0},
      {0, kAlphaApplied, 0.0},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(SetWindowAlpha(&window, c.level), c.result) << c.level;
    EXPECT_NEAR(window.windowOpacity(), c.opacityAfter, 0.01) << c.level;
  }
  EXPECT_TRUE(window.isVisible()) << "level 0 makes the window invisible, not hidden";
  EXPECT_EQ(SetWindowAlpha(nullptr, 10), kAlphaImpossible);
  EXPECT_EQ(SetWindowAlpha(nullptr, 300), kAlphaOutOfRange);
}

TEST(Layering, SetOnTopKeepsPlaceAndVisibility) {
  QWidget window;
  window.setGeometry(40, 50, 120, 80);
  window.show();
  EXPECT_EQ(SetOnTop(&window, false), 0);
  EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window.isVisible());

  EXPECT_NE(SetOnTop(&window, true), 0);
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.geometry(), QRect(40, 50, 120, 80));

  EXPECT_EQ(SetOnTop(&window, false), 0);
  EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.geometry(), QRect(40, 50, 120, 80));
}

TEST(Layering, ColourKeyCutsOnlyExactCyan) {
  QImage skin(4, 3, QImage::Format_RGB32);
  skin.fill(QColor(20, 20, 20));
  skin.setPixelColor(1, 1, QColor(0, 255, 255));
  skin.setPixelColor(2, 1, QColor(0, 254, 255));
  skin.setPixelColor(3, 0, QColor(1, 255, 255));
  for (int x = 0; x < 4; ++x) skin.setPixelColor(x, 2, QColor(0, 255, 255));

  const QRegion region = colourKeyRegion(skin);
  struct Pixel {
    int x, y;
    bool visible;
  };
  for (const Pixel &p : {Pixel{0, 0, true}, Pixel{1, 1, false}, Pixel{2, 1, true}, Pixel{3, 0, true},
                         Pixel{0, 2, false}, Pixel{3, 2, false}, Pixel{3, 1, true}})
    EXPECT_EQ(region.contains(QPoint(p.x, p.y)), p.visible) << p.x << "," << p.y;

  QWidget window;
  window.resize(4, 3);
  applyColourKey(&window, skin);
  EXPECT_EQ(window.mask(), region);
}

TEST(InstanceGuard, OneHolderPerExecutable) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  auto first = std::make_unique<InstanceGuard>(QStringLiteral("/opt/kirasol/kirasol-radio"), dir.path());
  InstanceGuard second(QStringLiteral("/opt/kirasol/kirasol-radio"), dir.path());
  InstanceGuard elsewhere(QStringLiteral("/home/u/kirasol-radio"), dir.path());

  EXPECT_TRUE(first->acquire());
  EXPECT_FALSE(second.acquire());
  EXPECT_TRUE(elsewhere.acquire()) << "another installation is another program";
  first.reset();
  EXPECT_TRUE(second.acquire()) << "the lock goes with its holder";
}

TEST(SplashSequence, UndisturbedFadeTakes25Steps) {
  SplashSequence s;
  s.activate();
  EXPECT_EQ(s.opacity(), 250);
  for (int tick = 1; tick <= 6; ++tick) EXPECT_EQ(s.countdownTick(), tick == 4) << tick;
  int steps = 0;
  SplashSequence::FadeStep step{};
  do {
    step = s.fadeStep();
    ++steps;
  } while (!step.finished && steps < 100);
  EXPECT_EQ(steps, 25);
  EXPECT_EQ(step.level, 0);
}

TEST(SplashSequence, DeclinedUpdateAndReactivation) {
  SplashSequence s;
  s.activate();
  EXPECT_EQ(s.fadeStep().level, 240) << "a declined update takes one step at once";
  for (int tick = 1; tick <= 5; ++tick) EXPECT_EQ(s.resumeTick(), tick == 4) << tick;
  int steps = 1;
  while (!s.fadeStep().finished) ++steps;
  EXPECT_EQ(steps, 24) << "24 more steps after the first";

  SplashSequence again;
  again.activate();
  for (int i = 0; i < 10; ++i) again.fadeStep();
  EXPECT_EQ(again.opacity(), 150);
  again.activate();
  int more = 1;
  while (!again.fadeStep().finished) ++more;
  EXPECT_EQ(more, 25) << "reactivation restarts the fade at 250";

  SplashSequence neverActivated;
  int blind = 1;
  while (!neverActivated.fadeStep().finished && blind < 100) ++blind;
  EXPECT_EQ(blind, 25) << "without any activation the fade still ends";
}

TEST(ElapsedClock, CountsSecondsMinutesHours) {
  struct Case {
    int ticks;
    const char *text;
  };
  for (const Case &c : {Case{0, "00:00:00"}, Case{59, "00:00:59"}, Case{60, "00:01:00"}, Case{3599, "00:59:59"},
                        Case{3600, "01:00:00"}, Case{3661, "01:01:01"}, Case{360000, "100:00:00"}}) {
    ElapsedClock clock;
    for (int i = 0; i < c.ticks; ++i) clock.tick();
    EXPECT_EQ(clock.text(), QString::fromLatin1(c.text)) << c.ticks;
  }
}

TEST(MainWindowRules, MarqueeVolumeAndDebugger) {
  struct Rotation {
    QString in, out;
  };
  for (const Rotation &r : {Rotation{"", ""}, Rotation{"A", "A"}, Rotation{"AB", "BA"},
                            Rotation{"My Station", "y StationM"}, Rotation{"เพลง", "พลงเ"},
                            Rotation{"ที่นา", "นาที่"}, Rotation{"น้ำ", "น้ำ"}})
    EXPECT_EQ(rotateLeft(r.in), r.out) << r.in.toStdString();

  EXPECT_EQ(volumeText(0), QStringLiteral("(0%)"));
  EXPECT_EQ(volumeText(100), QStringLiteral("(100%)"));

  struct Status {
    const char *text;
    bool traced;
  };
  for (const Status &s : {Status{"Name:\tx\nTracerPid:\t0\n", false}, Status{"Name:\tx\nTracerPid:\t4242\n", true},
                          Status{"Name:\tx\n", false}, Status{"TracerPid:\tjunk\n", false}})
    EXPECT_EQ(tracerAttached(s.text), s.traced) << s.text;
}

}  // namespace
}  // namespace kirasol
