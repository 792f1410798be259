#include "controls/slider/slider.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <memory>

using kirasol::MemoryPropertyStore;
using kirasol::Slider;

namespace {

// The main window's volume slider as that window sets it up: restored from
// its saved set, then placed. Track 100 pixels, thumb 9, value 50 (BarPos 46).
std::unique_ptr<Slider> volumeSlider() {
  auto s = std::make_unique<Slider>();
  s->setObjectName("sldVol");
  s->ReadProperties(MemoryPropertyStore{{"BackColor", 0}, {"Value", 50}, {"Position", 1}});
  s->setGeometry(0, 0, 100, 9);
  s->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(s.get()));
  return s;
}

QColor pixel(Slider &s, int x, int y) { return s.grab().toImage().pixelColor(x, y); }

TEST(SliderWidget, RestoredVolumeSliderDrawsFillColours) {
  auto s = volumeSlider();
  EXPECT_EQ(s->objectName(), "sldVol");
  EXPECT_EQ(s->value(), 50);
  EXPECT_EQ(s->max(), 100);
  EXPECT_EQ(s->size(), QSize(100, 9));
  EXPECT_EQ(s->model().barPos(), 46);
  // No pictures: black track and progress, white thumb at 46..54.
  EXPECT_EQ(pixel(*s, 20, 4), QColor(Qt::black));
  EXPECT_EQ(pixel(*s, 46, 4), QColor(Qt::white));
  EXPECT_EQ(pixel(*s, 54, 8), QColor(Qt::white));
  EXPECT_EQ(pixel(*s, 55, 4), QColor(Qt::black));
  ASSERT_NE(s->findChild<QTimer *>("OverTimer"), nullptr);
  EXPECT_EQ(s->findChild<QTimer *>("OverTimer")->interval(), 10);
}

TEST(SliderWidget, PositionExchangesTheWidgetsSides) {
  Slider s;
  s.resize(9, 100);
  s.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&s));
  EXPECT_TRUE(s.setPosition(1));
  EXPECT_EQ(s.size(), QSize(100, 9));
  EXPECT_EQ(s.model().trackLength(), 100);
  EXPECT_TRUE(s.setPosition(1));
  EXPECT_EQ(s.size(), QSize(9, 100));
}

TEST(SliderWidget, DragOutsideTheControl) {
  auto s = volumeSlider();
  QSignalSpy change(s.get(), &Slider::Change);
  QSignalSpy down(s.get(), &Slider::MouseDown);
  QSignalSpy up(s.get(), &Slider::MouseUp);
  QSignalSpy move(s.get(), &Slider::MouseMove);

  QTest::mousePress(s.get(), Qt::LeftButton, Qt::ShiftModifier, QPoint(50, 4));
  ASSERT_EQ(down.count(), 1);
  EXPECT_EQ(down[0], (QList<QVariant>{1, 1, 50.0f, 4.0f}));
  EXPECT_TRUE(s->model().dragging());
  EXPECT_EQ(pixel(*s, 50, 4), QColor(Qt::green));  // pressed look

  QTest::mouseMove(s.get(), QPoint(3, 4));
  QTest::mouseMove(s.get(), QPoint(-40, 30));  // beyond the left end and below
  QTest::mouseMove(s.get(), QPoint(400, -20));  // beyond the right end
  ASSERT_EQ(change.count(), 3);
  EXPECT_EQ(change[0][0].toInt(), 0);
  EXPECT_EQ(change[1][0].toInt(), 0);
  EXPECT_EQ(change[2][0].toInt(), 100);
  EXPECT_EQ(move.count(), 3);
  EXPECT_EQ(move[0][0].toInt(), 1);  // the held button

  QTest::mouseRelease(s.get(), Qt::LeftButton, Qt::NoModifier, QPoint(400, -20));
  EXPECT_EQ(change.count(), 3);  // a release that ends a drag raises no Change
  ASSERT_EQ(up.count(), 1);
  EXPECT_EQ(up[0][0].toInt(), 1);
  EXPECT_EQ(s->value(), 100);
  EXPECT_FALSE(s->model().dragging());
  EXPECT_EQ(pixel(*s, 95, 4), QColor(Qt::white));  // thumb at the right end
  EXPECT_EQ(pixel(*s, 60, 4), QColor(Qt::black));
}

TEST(SliderWidget, ClickBesideJumpsOnRelease) {
  auto s = volumeSlider();
  QSignalSpy change(s.get(), &Slider::Change);
  QTest::mousePress(s.get(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 4));
  EXPECT_EQ(change.count(), 0);
  EXPECT_EQ(s->value(), 50);
  EXPECT_EQ(pixel(*s, 50, 4), QColor(Qt::white));  // the thumb has not moved on screen
  QTest::mouseRelease(s.get(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 4));
  ASSERT_EQ(change.count(), 1);
  EXPECT_EQ(change[0][0].toInt(), 7);
  EXPECT_EQ(s->value(), 7);
  EXPECT_EQ(pixel(*s, 8, 4), QColor(Qt::white));
}

TEST(SliderWidget, RightButtonOnlyReleases) {
  auto s = volumeSlider();
  QSignalSpy change(s.get(), &Slider::Change);
  QSignalSpy down(s.get(), &Slider::MouseDown);
  QSignalSpy up(s.get(), &Slider::MouseUp);
  QTest::mousePress(s.get(), Qt::RightButton, Qt::NoModifier, QPoint(50, 4));
  EXPECT_EQ(down.count(), 0);
  QTest::mouseRelease(s.get(), Qt::RightButton, Qt::NoModifier, QPoint(50, 4));
  // The release reads the value back from the offset: N(46 / 91 * 100) = 51.
  ASSERT_EQ(change.count(), 1);
  EXPECT_EQ(change[0][0].toInt(), 51);
  ASSERT_EQ(up.count(), 1);
  EXPECT_EQ(up[0][0].toInt(), 2);
}

TEST(SliderWidget, SetValueRedrawsWithoutChange) {
  auto s = volumeSlider();
  QSignalSpy change(s.get(), &Slider::Change);
  QSignalSpy notice(s.get(), &Slider::PropertyChanged);
  s->setValue(100);
  s->setValue(150);
  EXPECT_EQ(change.count(), 0);
  ASSERT_EQ(notice.count(), 1);
  EXPECT_EQ(notice[0][0].toString(), "Value");
  EXPECT_EQ(pixel(*s, 95, 4), QColor(Qt::white));
}

TEST(SliderWidget, PicturesAreDrawn) {
  auto s = volumeSlider();
  QPixmap progress(100, 9);
  progress.fill(Qt::blue);
  QPixmap thumb(9, 9);
  thumb.fill(Qt::magenta);
  s->setPictureProgress(progress);
  s->setBar(thumb);
  EXPECT_EQ(pixel(*s, 20, 4), QColor(Qt::blue));
  EXPECT_EQ(pixel(*s, 50, 4), QColor(Qt::magenta));
  EXPECT_EQ(pixel(*s, 80, 4), QColor(Qt::black));
}

// Events from the windowing system, on a window holding the slider: the
// press grabs the mouse, so moves and the release over the rest of the window
// still reach the slider.
TEST(SliderWidget, MouseCaptureWithinAWindow) {
  QWidget window;
  window.resize(300, 60);
  auto *s = new Slider(&window);
  s->ReadProperties(MemoryPropertyStore{{"BackColor", 0}, {"Value", 50}, {"Position", 1}});
  s->setGeometry(50, 10, 100, 9);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QSignalSpy change(s, &Slider::Change);
  QSignalSpy up(s, &Slider::MouseUp);
  QWindow *w = window.windowHandle();
  QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, QPoint(100, 14));  // on the thumb
  ASSERT_TRUE(s->model().dragging());
  QTest::mouseMove(w, QPoint(10, 50));  // over the window, left of and below the slider
  QTest::mouseMove(w, QPoint(290, 50));
  QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, QPoint(290, 50));
  ASSERT_EQ(change.count(), 2);
  EXPECT_EQ(change[0][0].toInt(), 0);
  EXPECT_EQ(change[1][0].toInt(), 100);
  ASSERT_EQ(up.count(), 1);
  EXPECT_EQ(up[0][2].toFloat(), 240.0f);  // x on the track, far right of it
  EXPECT_FALSE(s->model().dragging());
}

TEST(SliderWidget, MouseIconIsTheCursorShown) {
  Slider s;
  QPixmap icon(16, 16);
  icon.fill(Qt::red);
  s.setMouseIcon(icon);
  EXPECT_EQ(s.cursor().shape(), Qt::BitmapCursor);
  s.ResetPictures();
  EXPECT_EQ(s.cursor().shape(), Qt::ArrowCursor);
  MemoryPropertyStore saved;
  s.setMouseIcon(icon);
  s.WriteProperties(saved);
  Slider restored;
  restored.ReadProperties(saved);
  EXPECT_EQ(restored.cursor().shape(), Qt::BitmapCursor);
}

// The hover look lasts while the cursor is over the control; the 10 ms timer
// ends it once the cursor is elsewhere.
TEST(SliderWidget, HoverEndsAfterTheCursorLeaves) {
  auto s = volumeSlider();
  auto *timer = s->findChild<QTimer *>("OverTimer");
  QCursor::setPos(s->mapToGlobal(QPoint(50, 4)));
  QMouseEvent hoverMove(QEvent::MouseMove, QPointF(50, 4), s->mapToGlobal(QPointF(50, 4)),
                        Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(s.get(), &hoverMove);
  ASSERT_TRUE(s->model().hover());
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(pixel(*s, 50, 4), QColor(Qt::red));
  QTest::qWait(50);  // ticks while the cursor stays over the control keep the look
  EXPECT_TRUE(s->model().hover());

  QCursor::setPos(s->mapToGlobal(QPoint(500, 500)));
  EXPECT_TRUE(kirasol::test::waitUntil([&] { return !s->model().hover(); },
                                       std::chrono::milliseconds(2000)));
  EXPECT_FALSE(timer->isActive());
  EXPECT_EQ(pixel(*s, 50, 4), QColor(Qt::white));
}

}  // namespace
