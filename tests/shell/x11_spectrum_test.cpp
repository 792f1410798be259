// The spectrum's frames on a real X server (run under xvfb-run): what the
// screen shows is read back from the server and compared with the picture.

#include "player/shell/frm_main.h"
#include "player/shell/x11_image_put.h"

#include "playback/fake_audio_library.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

namespace kirasol {
namespace {

using namespace std::chrono_literals;

// The window's pixels as the X server holds them.
QImage onScreen(QWidget &window, QRect area) {
  QCoreApplication::processEvents();
  return window.screen()
      ->grabWindow(window.winId(), area.x(), area.y(), area.width(), area.height())
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
}

// A test picture whose every pixel differs in red, green and blue, so that
// a swapped channel or a shifted row shows.
QImage testPicture(int w, int h, int salt) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb((x * 7 + salt) & 255, (y * 13 + salt) & 255, (x + y) & 255));
  return image;
}

// Maps a plain window over the given one and takes it away: the server then
// asks for the uncovered part again (an expose).
void coverAndUncover(QWidget &window) {
  QWidget cover;
  cover.setWindowFlags(Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint);
  cover.setGeometry(QRect(window.mapToGlobal(QPoint(0, 0)), window.size()));
  cover.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&cover));
  cover.hide();
  QTest::qWait(100);
}

// Red, with the current picture painted where it is put, as a window using
// X11ImagePut must: its backing store only learns of a picture when Qt
// repaints.
class SolidWindow final : public QWidget {
 public:
  QImage picture;
  QPoint at;

 protected:
  void paintEvent(QPaintEvent *) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::red);
    if (!picture.isNull()) painter.drawImage(at, picture);
  }
};

TEST(X11ImagePut, PicturesLandExactlyAndSurviveAnExpose) {
  ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "run under xvfb-run with QT_QPA_PLATFORM=xcb";
  SolidWindow window;
  window.setWindowFlags(Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint);
  window.setGeometry(40, 40, 200, 120);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QTest::qWait(50);

  X11ImagePut put(window);
  const QRect area(30, 20, 103, 40);
  window.at = area.topLeft();
  const QImage first = window.picture = testPicture(area.width(), area.height(), 0);
  ASSERT_TRUE(put.put(first, area.topLeft()));
  EXPECT_EQ(onScreen(window, area), first);
  const QImage second = window.picture = testPicture(area.width(), area.height(), 91);
  ASSERT_TRUE(put.put(second, area.topLeft()));
  EXPECT_EQ(onScreen(window, area), second);
  EXPECT_EQ(onScreen(window, QRect(0, 0, 10, 10)).pixel(5, 5), qRgb(255, 0, 0)) << "outside the picture: Qt's paint";

  // Qt answers the expose from its backing store, which never saw the
  // picture (red there); the current one must come back.
  coverAndUncover(window);
  EXPECT_EQ(onScreen(window, area), second);

  EXPECT_FALSE(put.put(second.convertToFormat(QImage::Format_ARGB32), area.topLeft())) << "only RGB32 is put";
  window.hide();
  EXPECT_FALSE(put.put(second, area.topLeft())) << "nothing is sent to a window that is not shown";
}

TEST(MainWindowOnX11, TheSpectrumOnScreenIsThePictureAndSurvivesAnExpose) {
  ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
  test::FakeAudioLibrary audio;
  // Falling magnitudes: bars of many heights across the bands.
  for (int i = 0; i < 1024; ++i) audio.spectrum.push_back(0.5f / float(1 + i));
  test::ScriptedDialogs dialogs;
  struct NoLauncher final : ProgramLauncher {
    bool startProgram(const QString &, const QStringList &) override { return false; }
    bool openUrl(const QString &) override { return false; }
  } launcher;
  NetRadio radio{audio, dialogs};
  auto window = std::make_unique<FrmMain>(
      FrmMain::Services{audio, radio, dialogs, launcher, [](int) {}, [] { return false; },
                        QStringLiteral("http://127.0.0.1:8620")},
      FrmMain::Hooks{});
  ASSERT_TRUE(window->load());
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  window->findChild<QPushButton *>(QStringLiteral("btnPresents"))->click();
  auto *ticks = window->findChild<QTimer *>(QStringLiteral("tmrLiveSpec"));
  ASSERT_TRUE(test::waitUntil([&] { return ticks->isActive(); }, 2s));
  QTest::qWait(200);  // several ticks: the band style, the same picture each time

  const QRect area = spectrum::LiveSpectrum::paintRect();
  const QImage picture = window->spectrum().shownImage();
  ASSERT_NE(picture.pixel(0, area.height() - 1), qRgb(0, 0, 0)) << "the test needs bars";
  EXPECT_EQ(onScreen(*window, area), picture);
  // What the window paints itself (its repaints, other platforms) is the same.
  EXPECT_EQ(window->grab(area).toImage().convertToFormat(QImage::Format_RGB32), picture);

  // A new picture while nothing else repaints, then an expose.
  audio.spectrum.assign(1024, 0.02f);
  QTest::qWait(100);
  ticks->stop();
  const QImage later = window->spectrum().shownImage();
  ASSERT_NE(later, picture);
  EXPECT_EQ(onScreen(*window, area), later);
  coverAndUncover(*window);
  EXPECT_EQ(onScreen(*window, area), later);

  window.reset();
  radio.waitForWorker();
}

}  // namespace
}  // namespace kirasol
