#include "controls/slider/slider_model.h"
#include "slider_test_support.h"

#include <gtest/gtest.h>

#include <QPixmap>

#include <functional>
#include <limits>

using kirasol::kLeftButton;
using kirasol::kRightButton;
using kirasol::SliderModel;
using kirasol::SliderMouse;
using kirasol::SliderStep;
using kirasol::ThumbLook;
using kirasol::test::at;
using kirasol::test::checkInvariants;
using kirasol::test::makeSlider;
using kirasol::test::RecordingListener;

namespace {

QPixmap picture(int w, int h, QColor colour) {
  QPixmap p(w, h);
  p.fill(colour);
  return p;
}

// ---------------------------------------------------------------- properties

TEST(SliderProperties, FreshControl) {
  SliderModel m;
  m.Initialize();
  EXPECT_EQ(m.min(), 0);
  EXPECT_EQ(m.max(), 100);
  EXPECT_EQ(m.value(), 0);
  EXPECT_EQ(m.largeChange(), 0);
  EXPECT_EQ(m.position(), 0);
  EXPECT_FALSE(m.horizontal());
  EXPECT_FALSE(m.dragging() || m.hover() || m.pressed() || m.overTimerEnabled());
}

TEST(SliderProperties, InitializeKeepsAnExistingMax) {
  SliderModel m;
  m.setMax(30);
  m.Initialize();
  EXPECT_EQ(m.max(), 30);
}

// One assignment on a slider with Min 0, Max 100 and Value `start`.
TEST(SliderProperties, RangeRules) {
  const struct {
    const char *what;
    std::int32_t start;
    std::function<void(SliderModel &)> assign;
    std::int32_t min, max, value;
    QStringList notices;
  } cases[] = {
      {"Value inside", 10, [](SliderModel &m) { m.setValue(70); }, 0, 100, 70, {"Notice Value"}},
      {"Value at Max", 10, [](SliderModel &m) { m.setValue(100); }, 0, 100, 100, {"Notice Value"}},
      {"Value above Max", 10, [](SliderModel &m) { m.setValue(150); }, 0, 100, 10, {}},
      {"Value below Min", 10, [](SliderModel &m) { m.setValue(-1); }, 0, 100, 10, {}},
      {"Max below Value", 70, [](SliderModel &m) { m.setMax(40); }, 0, 40, 40, {"Notice Max"}},
      {"Max above Value", 70, [](SliderModel &m) { m.setMax(80); }, 0, 80, 70, {"Notice Max"}},
      {"Max below Min", 0, [](SliderModel &m) { m.setMax(-5); }, 0, -5, -5, {"Notice Max"}},
      {"min above Value", 50, [](SliderModel &m) { m.setMin(60); }, 60, 100, 60, {"Notice Min"}},
      {"min below Value", 50, [](SliderModel &m) { m.setMin(-60); }, -60, 100, 50, {"Notice Min"}},
      {"min above Max", 50, [](SliderModel &m) { m.setMin(120); }, 120, 100, 120, {"Notice Min"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    SliderModel m;
    makeSlider(m, 1, 100);
    m.setValue(c.start);
    RecordingListener r;
    m.setListener(&r);
    const int draws = m.drawCount();
    c.assign(m);
    EXPECT_EQ(m.min(), c.min);
    EXPECT_EQ(m.max(), c.max);
    EXPECT_EQ(m.value(), c.value);
    EXPECT_EQ(r.events, c.notices);  // never a Change
    EXPECT_EQ(m.drawCount() > draws, !c.notices.isEmpty());  // accepted ones redraw
  }
}

TEST(SliderProperties, LargeChange) {
  const struct {
    std::int32_t max, assign, expected;
  } cases[] = {{100, 100, 0}, {100, 99, 99}, {100, -3, -3}, {100, 101, 0},
               {40000, 32767, 32767}, {40000, 32768, 0}, {0, -32768, -32768}, {0, -32769, 0}};
  for (const auto &c : cases) {
    SliderModel m;
    m.Initialize();
    m.setMax(c.max);
    const int draws = m.drawCount();
    m.setLargeChange(c.assign);
    EXPECT_EQ(m.largeChange(), c.expected) << c.max << " " << c.assign;
    EXPECT_EQ(m.drawCount(), draws);  // never redraws
  }
}

TEST(SliderProperties, ValueIsRefusedWhileTheThumbIsHeld) {
  SliderModel m;
  makeSlider(m, 1, 100);
  m.setValue(50);
  m.mousePressed(at(50, true));
  ASSERT_TRUE(m.pressed());
  m.setValue(20);
  EXPECT_EQ(m.value(), 50);
}

TEST(SliderProperties, PositionExchangesTheSidesEveryTime) {
  SliderModel m;
  m.Initialize();
  m.Resize(120, 15);
  RecordingListener r;
  m.setListener(&r);
  const struct {
    std::int32_t position;
    int width, height;
  } steps[] = {{1, 15, 120}, {1, 120, 15}, {0, 15, 120}, {-7, 120, 15}};
  for (const auto &s : steps) {
    EXPECT_TRUE(m.setPosition(s.position));
    EXPECT_EQ(m.controlWidth(), s.width);
    EXPECT_EQ(m.controlHeight(), s.height);
    EXPECT_EQ(r.events.takeFirst(), QStringLiteral("Size %1x%2").arg(s.width).arg(s.height));
    EXPECT_EQ(r.events.takeFirst(), "Notice Position");
  }
}

TEST(SliderProperties, PositionLaysOutTheThumbs) {
  SliderModel m;
  m.Initialize();
  m.Resize(13, 100);  // becomes 100 x 13, horizontal
  m.setPosition(1);
  EXPECT_EQ(m.trackLength(), 100);
  EXPECT_EQ(QSize(m.picBar().width, m.picBar().height), QSize(9, 13));
  EXPECT_EQ(QSize(m.picBarDown().width, m.picBarDown().height), QSize(9, 13));
  EXPECT_EQ(QSize(m.picBack1().width, m.picBack1().height), QSize(100, 13));
  // With a thumb picture the thumb takes its length from the picture.
  m.setBar(picture(15, 6, Qt::blue));
  m.setPosition(1);  // back to 13 x 100, vertical-shaped but still horizontal
  m.Resize(100, 13);
  EXPECT_EQ(m.thumbLength(), 15);
  EXPECT_EQ(m.picBar().height, 13);
  EXPECT_EQ(m.picBarOver().width, 15);
}

// Sides travel as 16-bit twips (15 per pixel): 2,184 pixels is the largest.
TEST(SliderProperties, PositionExchangeOverflow) {
  const struct {
    int width, height;
    bool exchanged;
  } cases[] = {{2184, 9, true}, {9, 2184, true}, {2185, 9, false}, {9, 2185, false},
               {40000, 9, false}};
  for (const auto &c : cases) {
    const bool fits = c.exchanged;
    SliderModel m;
    m.Initialize();
    m.Resize(c.width, c.height);
    RecordingListener r;
    m.setListener(&r);
    const int draws = m.drawCount();
    EXPECT_EQ(m.setPosition(1), fits) << c.width << "x" << c.height;
    EXPECT_EQ(m.position(), 1);  // stored either way
    EXPECT_EQ(m.controlWidth(), fits ? c.height : c.width);
    EXPECT_EQ(m.controlHeight(), fits ? c.width : c.height);
    EXPECT_GT(m.drawCount(), draws);  // laid out and drawn either way
    EXPECT_EQ(r.events.last(), "Notice Position");
    EXPECT_EQ(r.only("Size").size(), fits ? 1 : 0);
  }
}

TEST(SliderProperties, Pictures) {
  const QPixmap bar = picture(7, 5, Qt::blue);
  const QPixmap down = picture(8, 8, Qt::cyan);
  {
    SCOPED_TRACE("Bar fills the empty hover and pressed holders");
    SliderModel m;
    makeSlider(m, 1, 100);
    m.setBar(bar);
    EXPECT_EQ(m.bar().cacheKey(), bar.cacheKey());
    EXPECT_EQ(m.barDown().cacheKey(), bar.cacheKey());
    EXPECT_EQ(m.barOver().cacheKey(), bar.cacheKey());
    EXPECT_EQ(QSize(m.picBarOver().width, m.picBarOver().height), QSize(7, 5));
  }
  {
    SCOPED_TRACE("Bar leaves a pressed picture in place");
    SliderModel m;
    makeSlider(m, 1, 100);
    m.setBarDown(down);
    m.setBar(bar);
    EXPECT_EQ(m.barDown().cacheKey(), down.cacheKey());
    EXPECT_EQ(m.barOver().cacheKey(), bar.cacheKey());
  }
  {
    SCOPED_TRACE("PictureBack sizes the track until the next Resize");
    SliderModel m;
    makeSlider(m, 1, 100);
    m.setPictureBack(picture(60, 20, Qt::gray));
    EXPECT_EQ(m.trackLength(), 60);
    EXPECT_EQ(m.pictureProgress().cacheKey(), m.pictureBack().cacheKey());
    EXPECT_EQ(m.surface().size(), QSize(60, 20));
    m.Resize(100, 9);
    EXPECT_EQ(m.trackLength(), 100);
  }
  {
    SCOPED_TRACE("ResetPictures empties all, without redraw or notice");
    SliderModel m;
    makeSlider(m, 1, 100);
    m.setBar(bar);
    m.setPictureBack(picture(100, 9, Qt::gray));
    m.setMouseIcon(picture(16, 16, Qt::red));
    RecordingListener r;
    m.setListener(&r);
    const int draws = m.drawCount();
    m.ResetPictures();
    EXPECT_TRUE(m.bar().isNull() && m.barDown().isNull() && m.barOver().isNull());
    EXPECT_TRUE(m.pictureBack().isNull() && m.pictureProgress().isNull());
    EXPECT_TRUE(m.mouseIcon().isNull());
    EXPECT_EQ(m.drawCount(), draws);
    EXPECT_TRUE(r.events.isEmpty());
  }
}

TEST(SliderProperties, BackColorWithoutRedraw) {
  SliderModel m;
  makeSlider(m, 1, 100);
  const int draws = m.drawCount();
  m.setBackColor(0x0000FF);
  EXPECT_EQ(m.picBack().fillColour, 0x0000FFu);
  EXPECT_EQ(m.picBack1().fillColour, 0x0000FFu);
  EXPECT_EQ(m.drawCount(), draws);
  EXPECT_EQ(kirasol::colourFromOle(0x0000FF), QColor(255, 0, 0));
  EXPECT_EQ(kirasol::colourFromOle(0x00FF8000), QColor(0, 128, 255));
}

// ---------------------------------------------------------------- arithmetic

// Horizontal, T 100, B 9 unless the case says otherwise.
TEST(SliderArithmetic, BarPosFromValue) {
  const struct {
    std::int32_t min, max, value;
    int track;
    std::int32_t barPos;
  } cases[] = {
      {0, 100, 50, 100, 46},   // N(45.5) = 46
      {0, 100, 0, 100, 0},
      {0, 100, 100, 100, 91},
      {0, 100, 25, 100, 23},   // N(22.75)
      {0, 200, 100, 100, 46},
      {-50, 50, 0, 100, 46},
      {0, 100, 50, 102, 46},   // N(46.5) = 46: halves go to even
      {0, 100, 50, 104, 48},   // N(47.5) = 48
      {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(),
       std::numeric_limits<std::int32_t>::max(), 100, 91},  // the range is taken in doubles
  };
  for (const auto &c : cases) {
    SliderModel m;
    makeSlider(m, 1, c.track);
    m.setMax(c.max);
    m.setMin(c.min);
    m.setValue(c.value);
    EXPECT_EQ(m.barPos(), c.barPos) << c.min << ".." << c.max << " value " << c.value;
    EXPECT_EQ(m.lastDraw().x, c.barPos);
    EXPECT_EQ(m.lastDraw().progress, QRect(0, 0, c.barPos, 9));
  }
}

// Vertical sliders have their maximum at the top; T - B = 100.
TEST(SliderArithmetic, VerticalMirroring) {
  const struct {
    std::int32_t min, max, value, barPos;
  } cases[] = {
      {0, 100, 30, 70}, {0, 100, 0, 100}, {0, 100, 100, 0},
      {-50, 50, 20, 30},   // symmetric range: the mirror is -Value
      {10, 20, 12, 80},    // a range above 0 stays inside Min..Max
      {-10, 100, 100, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.min << ".." << c.max << " value " << c.value);
    SliderModel m;
    makeSlider(m, 0, 109);
    m.setMax(c.max);
    m.setMin(c.min);
    m.setValue(c.value);
    EXPECT_EQ(m.barPos(), c.barPos);
    EXPECT_EQ(m.lastDraw().y, c.barPos);
    EXPECT_EQ(m.lastDraw().progress, QRect(0, c.barPos, 9, 109));
    m.CalcValue();
    EXPECT_EQ(m.value(), c.value);  // and back
    m.DrawSlider(0, true);
    EXPECT_EQ(m.value(), c.value);  // redrawing never changes the value
  }
}

TEST(SliderArithmetic, StepsThatCannotBeComputedAreSkipped) {
  {
    SCOPED_TRACE("Max equal to Min keeps the offset");
    SliderModel m;
    makeSlider(m, 1, 100);
    m.setValue(50);
    m.setMax(50);
    ASSERT_EQ(m.barPos(), 91);
    m.setMin(50);
    EXPECT_EQ(m.barPos(), 91);
  }
  for (const std::int32_t position : {1, 0}) {
    SCOPED_TRACE(testing::Message() << "thumb as long as the track, Position " << position);
    SliderModel m;
    makeSlider(m, position, 9);
    m.setValue(30);
    m.CalcValue();
    EXPECT_EQ(m.value(), 30);
    m.mouseReleased(at(0, position != 0));
    EXPECT_EQ(m.value(), 30);
  }
}

// ---------------------------------------------------------------- mouse

// Horizontal, T 100, B 9, Value 50 (BarPos 46): grab the thumb, drag to x.
TEST(SliderMouse, DragTo) {
  const struct {
    float x;
    std::int32_t barPos, value;
  } cases[] = {
      {3, 0, 0},       // N(3) < 4.5 -> N(4.5) = 4 -> N(-0.5) = 0
      {-20, 0, 0},     // far outside on the left
      {10, 6, 7},      // N(5.5) = 6; N(6.59) = 7
      {50, 46, 51},    // N(45.5) = 46; N(50.55) = 51
      {95, 90, 99},
      {96, 91, 100},   // N(N(95.5) - 4.5) = 92 would be past the end: kept at 91
      {500, 91, 100},  // far outside on the right
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "x " << c.x);
    SliderModel m;
    makeSlider(m, 1, 100);
    m.setValue(50);
    RecordingListener r;
    m.setListener(&r);
    m.mousePressed(at(50, true));
    m.mouseMoved(SliderMouse{kLeftButton, 0, c.x, 4});
    EXPECT_EQ(m.barPos(), c.barPos);
    EXPECT_EQ(m.value(), c.value);
    EXPECT_EQ(m.lastDraw().thumb, ThumbLook::Pressed);
    m.mouseReleased(at(c.x, true));
    EXPECT_EQ(r.only("Change"), QStringList{QStringLiteral("Change %1").arg(c.value)});
    EXPECT_EQ(m.value(), c.value);
  }
}

TEST(SliderMouse, VerticalDragUsesY) {
  SliderModel m;
  makeSlider(m, 0, 109);
  m.setValue(30);  // BarPos 70, thumb 70..79
  m.mousePressed(SliderMouse{kLeftButton, 0, 4, 75});
  ASSERT_TRUE(m.dragging());
  m.mouseMoved(SliderMouse{kLeftButton, 0, 300, 24.5f});  // x is ignored
  EXPECT_EQ(m.barPos(), 20);  // N(N(24.5) - 4.5) = N(19.5) = 20
  EXPECT_EQ(m.value(), 80);
}

// Where a left press on a horizontal slider with BarPos 46 (B 9) lands.
TEST(SliderMouse, PressHitTest) {
  const struct {
    float x;
    bool grabs;
  } cases[] = {{46, true}, {55, true}, {50, true}, {56, false}, {45, false}, {45.5f, false},
               {55.5f, false}};
  for (const auto &c : cases) {
    SliderModel m;
    makeSlider(m, 1, 100);
    m.setValue(50);
    m.mousePressed(at(c.x, true));
    EXPECT_EQ(m.dragging(), c.grabs) << c.x;
    EXPECT_EQ(m.pressed(), c.grabs) << c.x;
  }
}

// A press beside the thumb, then the release at the same place.
TEST(SliderMouse, ClickBeside) {
  const struct {
    const char *what;
    std::int16_t largeChange;
    std::int32_t value;
    float x;
    std::int32_t afterPress, afterRelease;
  } cases[] = {
      {"step right", 10, 50, 80, 60, 60},
      {"step left", 10, 50, 10, 40, 40},
      {"step past Max is dropped", 10, 95, 99, 95, 95},
      {"step below Min is dropped", 10, 5, 1, 5, 5},
      {"a large step rounds through the offset", 10, 3, 50, 13, 13},
      {"jump", 0, 50, 10, 50, 7},
      {"jump to the left end", 0, 50, 0, 50, 0},
      {"jump to the right end", 0, 50, 100, 50, 100},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    SliderModel m;
    makeSlider(m, 1, 100);
    m.setLargeChange(c.largeChange);
    m.setValue(c.value);
    RecordingListener r;
    m.setListener(&r);
    const int draws = m.drawCount();
    m.mousePressed(at(c.x, true));
    EXPECT_FALSE(m.dragging());
    EXPECT_EQ(m.value(), c.afterPress);
    EXPECT_TRUE(r.only("Change").isEmpty());
    if (c.largeChange == 0) {
      EXPECT_EQ(m.drawCount(), draws);  // nothing moves on screen yet
    }
    EXPECT_EQ(r.only("MouseDown").size(), 1);
    m.mouseReleased(at(c.x, true));
    EXPECT_EQ(m.value(), c.afterRelease);
    EXPECT_EQ(r.only("Change"), QStringList{QStringLiteral("Change %1").arg(c.afterRelease)});
    EXPECT_EQ(r.events.last(), QStringLiteral("MouseUp 1 0 %1 4").arg(c.x));
  }
}

// A step whose sum leaves 32 bits is outside Min..Max as well: dropped.
TEST(SliderMouse, LargeChangeNearTheEndsOf32Bits) {
  constexpr std::int32_t lo = std::numeric_limits<std::int32_t>::min();
  constexpr std::int32_t hi = std::numeric_limits<std::int32_t>::max();
  const struct {
    std::int32_t min, max, value;
    float x;  // beside the thumb, which sits at an end
    std::int32_t expected;
  } cases[] = {
      {0, hi, hi - 100, 100.5f, hi - 100},
      {lo, 0, lo + 100, -1, lo + 100},
      {0, hi, hi - 100, 0, hi - 100 - 32767},
  };
  for (const auto &c : cases) {
    SliderModel m;
    makeSlider(m, 1, 100);
    m.setMax(c.max);
    m.setMin(c.min);
    m.setLargeChange(32767);
    m.setValue(c.value);
    m.mousePressed(at(c.x, true));
    EXPECT_FALSE(m.dragging());
    EXPECT_EQ(m.value(), c.expected) << c.value << " at " << c.x;
  }
}

TEST(SliderMouse, OtherButtons) {
  SliderModel m;
  makeSlider(m, 1, 100);
  m.setValue(50);
  RecordingListener r;
  m.setListener(&r);
  for (const std::int16_t button : {kRightButton, kirasol::kMiddleButton}) {
    r.events.clear();
    m.mousePressed(at(50, true, button));  // even on the thumb
    EXPECT_FALSE(m.dragging());
    EXPECT_TRUE(r.events.isEmpty());
    m.mouseReleased(at(50, true, button));
    // Value 50 has offset 46, which reads back as N(46 / 91 * 100) = 51.
    EXPECT_EQ(r.events, (QStringList{"Change 51", QStringLiteral("MouseUp %1 0 50 4").arg(button)}));
  }
}

TEST(SliderMouse, ThumbLooks) {
  const struct {
    const char *what;
    std::function<void(SliderModel &)> setUp;
    std::int32_t barState;
    ThumbLook look;
  } cases[] = {
      {"idle 0", [](SliderModel &) {}, 0, ThumbLook::Normal},
      {"idle 1", [](SliderModel &) {}, 1, ThumbLook::Pressed},
      {"idle 2", [](SliderModel &) {}, 2, ThumbLook::Hover},
      {"idle 3", [](SliderModel &) {}, 3, ThumbLook::None},
      {"idle -1", [](SliderModel &) {}, -1, ThumbLook::None},
      {"hovered 0", [](SliderModel &m) { m.mouseMoved(at(10, true, 0)); }, 0, ThumbLook::Hover},
      {"hovered 3", [](SliderModel &m) { m.mouseMoved(at(10, true, 0)); }, 3, ThumbLook::Hover},
      {"hovered and grabbed", [](SliderModel &m) {
         m.mouseMoved(at(50, true, 0));
         m.mousePressed(at(50, true));
       }, 0, ThumbLook::Pressed},
      {"grabbed, hover ended", [](SliderModel &m) {
         m.mouseMoved(at(50, true, 0));
         m.mousePressed(at(50, true));
         m.overTimerTick(false);
       }, 0, ThumbLook::Normal},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    SliderModel m;
    makeSlider(m, 1, 100);
    m.setValue(50);
    c.setUp(m);
    m.DrawSlider(c.barState, false);
    EXPECT_EQ(m.lastDraw().thumb, c.look);
  }
}

TEST(SliderMouse, HoverEndsWhenTheCursorLeaves) {
  SliderModel m;
  makeSlider(m, 1, 100);
  RecordingListener r;
  m.setListener(&r);
  m.mouseMoved(at(20, true, 0));
  EXPECT_TRUE(m.hover());
  EXPECT_TRUE(r.timerOn);
  EXPECT_EQ(m.lastDraw().thumb, ThumbLook::Hover);
  const int draws = m.drawCount();
  m.mouseMoved(at(30, true, 0));  // already hovered: nothing drawn
  EXPECT_EQ(m.drawCount(), draws);
  m.overTimerTick(true);  // still over the control
  EXPECT_TRUE(m.hover());
  m.overTimerTick(false);
  EXPECT_FALSE(m.hover());
  EXPECT_FALSE(r.timerOn);
  EXPECT_EQ(m.lastDraw().thumb, ThumbLook::Normal);
  EXPECT_EQ(r.only("MouseMove").size(), 2);
}

// The user's interaction as one script; the invariants hold after each step.
TEST(SliderMouse, ScriptedInteractionKeepsInvariants) {
  for (const std::int32_t position : {1, 0}) {
    SCOPED_TRACE(testing::Message() << "Position " << position);
    const bool h = position != 0;
    SliderModel m;
    RecordingListener r;
    m.setListener(&r);
    makeSlider(m, position, 100);
    checkInvariants(m, r, "made");
    const struct {
      const char *step;
      std::function<void()> run;
    } script[] = {
        {"value 50", [&] { m.setValue(50); }},
        {"hover", [&] { m.mouseMoved(at(5, h, 0)); }},
        {"grab", [&] { m.mousePressed(at(float(m.barPos() + 4), h)); }},
        {"drag far out", [&] { m.mouseMoved(at(1000, h, kLeftButton)); }},
        {"drag back", [&] { m.mouseMoved(at(-1000, h, kLeftButton)); }},
        {"value while held", [&] { m.setValue(10); }},
        {"cursor leaves", [&] { m.overTimerTick(false); }},
        {"drag while not hovered", [&] { m.mouseMoved(at(33, h, kLeftButton)); }},
        {"release", [&] { m.mouseReleased(at(33, h)); }},
        {"jump press", [&] { m.mousePressed(at(m.barPos() > 50 ? 2 : 98, h)); }},
        {"jump release", [&] { m.mouseReleased(at(0, h)); }},
        {"large change", [&] { m.setLargeChange(25); }},
        {"step press", [&] { m.mousePressed(at(m.barPos() > 50 ? 0 : 99, h)); }},
        {"step release", [&] { m.mouseReleased(at(0, h)); }},
        {"right press", [&] { m.mousePressed(at(50, h, kRightButton)); }},
        {"right release", [&] { m.mouseReleased(at(50, h, kRightButton)); }},
        {"narrower range", [&] { m.setMax(30); }},
        {"higher min", [&] { m.setMin(20); }},
        {"resize", [&] { m.Resize(h ? 60 : 9, h ? 9 : 60); }},
        {"hover again", [&] { m.mouseMoved(at(1, h, 0)); }},
        {"grab again", [&] { m.mousePressed(at(float(m.barPos()), h)); }},
        {"drag", [&] { m.mouseMoved(at(40, h, kLeftButton)); }},
        {"release again", [&] { m.mouseReleased(at(40, h)); }},
        {"leave", [&] { m.overTimerTick(false); }},
    };
    for (const auto &s : script) {
      s.run();
      checkInvariants(m, r, s.step);
    }
  }
}

TEST(SliderDrawing, SurfaceShowsFillColoursWithoutPictures) {
  SliderModel m;
  makeSlider(m, 1, 100);
  m.setBackColor(0x000000);
  m.setPictureProgress(picture(100, 9, Qt::blue));
  m.setValue(50);  // thumb 46..54
  const QImage &s = m.surface();
  ASSERT_EQ(s.size(), QSize(100, 9));
  EXPECT_EQ(s.pixelColor(10, 4), QColor(Qt::blue));
  EXPECT_EQ(s.pixelColor(45, 4), QColor(Qt::blue));
  EXPECT_EQ(s.pixelColor(46, 4), QColor(Qt::white));
  EXPECT_EQ(s.pixelColor(54, 4), QColor(Qt::white));
  EXPECT_EQ(s.pixelColor(55, 4), QColor(Qt::black));
  m.mouseMoved(at(0, true, 0));
  EXPECT_EQ(m.surface().pixelColor(50, 4), QColor(Qt::red));
  m.mousePressed(at(50, true));
  EXPECT_EQ(m.surface().pixelColor(50, 4), QColor(Qt::green));
}

}  // namespace

// Keys and assistive tools move the value as a drag would: inside the range,
// with one Change per real move and none at an end.
TEST(SliderKeyboard, StepsStayInTheRangeAndRaiseChangeOnlyWhenTheValueMoves) {
  struct Case {
    std::int32_t min, max, largeChange, value;
    SliderStep step;
    std::int32_t expected;
  };
  const Case cases[] = {
      {0, 100, 0, 50, SliderStep::Up, 51},        {0, 100, 0, 50, SliderStep::Down, 49},
      {0, 100, 0, 100, SliderStep::Up, 100},      {0, 100, 0, 0, SliderStep::Down, 0},
      {0, 100, 0, 50, SliderStep::PageUp, 60},    {0, 100, 0, 95, SliderStep::PageUp, 100},
      {0, 100, 7, 50, SliderStep::PageDown, 43},  {0, 5, 0, 3, SliderStep::PageDown, 2},
      {-20, 20, 0, 5, SliderStep::ToMin, -20},    {-20, 20, 0, 5, SliderStep::ToMax, 20},
      {INT32_MIN, INT32_MAX, 0, INT32_MAX, SliderStep::Up, INT32_MAX},
  };
  for (const Case &c : cases) {
    SliderModel m;
    makeSlider(m, 1, 100);
    m.setMin(c.min);
    m.setMax(c.max);
    m.setLargeChange(c.largeChange);
    m.setValue(c.value);
    RecordingListener r;
    m.setListener(&r);
    const bool moved = m.step(c.step);
    EXPECT_EQ(m.value(), c.expected) << c.value << " step " << int(c.step);
    EXPECT_EQ(moved, c.expected != c.value);
    EXPECT_EQ(r.only("Change"), moved ? QStringList{QStringLiteral("Change %1").arg(c.expected)} : QStringList{});
  }
}

TEST(SliderKeyboard, UserValueIsClampedAndRefusedWhileHeldOrInverted) {
  SliderModel m;
  makeSlider(m, 1, 100);
  m.setValue(50);
  EXPECT_TRUE(m.userSetValue(250));
  EXPECT_EQ(m.value(), 100);
  m.mousePressed(at(m.barPos() + 1, true));
  ASSERT_TRUE(m.pressed());
  EXPECT_FALSE(m.step(SliderStep::Down)) << "the hand on the thumb wins";
  m.mouseReleased(at(m.barPos() + 1, true));
  m.setMin(150);  // inverted: Min 150, Max 100
  const std::int32_t before = m.value();
  EXPECT_FALSE(m.userSetValue(120));
  EXPECT_EQ(m.value(), before);
}
