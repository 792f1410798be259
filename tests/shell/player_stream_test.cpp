// The player's stream path end to end: the real audio engine, the main
// window and the demo station on local ports (needs a sound server, as
// scripts/test provides).

#include "player/playback/audio_library.h"
#include "player/shell/frm_main.h"

#include "support/scripted_dialogs.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

// The audio output loads the sound server's ALSA plugin and unloads it again;
// what the plugin keeps is reported as leaked from an unknown module and
// cannot be suppressed by name. Leak checking is therefore off in this
// executable only; memory errors stay checked here, and the player's own
// objects are leak-checked by the shell and playback tests.
extern "C" const char *__asan_default_options() { return "detect_leaks=0"; }

namespace kirasol {
namespace {

using namespace std::chrono_literals;

class NoLauncher final : public ProgramLauncher {
 public:
  bool startProgram(const QString &, const QStringList &) override { return false; }
  bool openUrl(const QString &) override { return false; }
};

// Two short tracks cut from the demo tracks, so the title changes after a
// few seconds of listening.
bool makeShortTracks(const QString &dir) {
  const QDir demo(test::programDir() + QStringLiteral("/demo"));
  const QByteArray first = test::readFile(demo.filePath(QStringLiteral("track1.mp3"))).left(64000);
  const QByteArray second = test::readFile(demo.filePath(QStringLiteral("track2.mp3"))).left(64000);
  if (first.size() < 64000 || second.size() < 64000) return false;
  return test::writeFile(dir + QStringLiteral("/a.mp3"), first) &&
         test::writeFile(dir + QStringLiteral("/b.mp3"), second) &&
         test::writeFile(dir + QStringLiteral("/tracks.txt"),
                         "a.mp3|Kirasol Ensemble - First Light|440\nb.mp3|Nok & The Tones - Second Wind|1000\n");
}

// The marquees rotate the labels; compare up to rotation.
bool isRotationOf(const QString &shown, const QString &text) {
  return shown.size() == text.size() && (text + text).contains(shown);
}

struct PlayerStreamTest : ::testing::Test {
  BassAudioLibrary audio;
  test::ScriptedDialogs dialogs;
  NoLauncher launcher;
  NetRadio radio{audio, dialogs};
  std::vector<int> ends;
  QString oldCwd = QDir::currentPath();
  QPointer<FrmMain> window;

  ~PlayerStreamTest() override {
    if (window) window->close();
    delete window.data();
    radio.waitForWorker();
    QDir::setCurrent(oldCwd);
  }
  bool load(const QString &url) {
    window = new FrmMain(
        FrmMain::Services{audio, radio, dialogs, launcher, [this](int c) { ends.push_back(c); }, {}, url}, {});
    return window->load();
  }
  QString text(const char *name) { return window->findChild<QLabel *>(QString::fromLatin1(name))->text(); }
};

TEST_F(PlayerStreamTest, PlaysTheDemoStationWithNameBitRateAndTitles) {
  QTemporaryDir tracks;
  ASSERT_TRUE(makeShortTracks(tracks.path()));
  test::DemoStation station({QStringLiteral("--tracks"), tracks.path(), QStringLiteral("--metaint"),
                             QStringLiteral("4000")});
  ASSERT_TRUE(station.started()) << station.errorText().toStdString();
  ASSERT_TRUE(load(station.streamUrl())) << (dialogs.messages.empty() ? "" : dialogs.messages[0].text.toStdString());

  QStringList stationTexts;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    const QString t = text("lblName");
    if (stationTexts.isEmpty() || stationTexts.back() != t) stationTexts << t;
  });
  watch.start(5);

  window->button("btnPresents")->click();
  ASSERT_TRUE(test::waitUntil([&] { return isRotationOf(text("lblName"), "Kirasol Demo Station"); }, 30s))
      << text("lblName").toStdString();
  EXPECT_TRUE(stationTexts.contains(QStringLiteral("connecting...")));
  EXPECT_FALSE(stationTexts.filter(QRegularExpression(QStringLiteral("^buffering\\.\\.\\. \\d+%$"))).isEmpty())
      << stationTexts.join(" | ").toStdString();
  EXPECT_EQ(text("lblBPS"), QStringLiteral("bitrate: 128"));
  // The title becomes current when its audio is heard, which is just after
  // playback starts.
  ASSERT_TRUE(test::waitUntil([&] { return isRotationOf(text("lblSong"), "Kirasol Ensemble - First Light"); }, 10s))
      << text("lblSong").toStdString();

  ASSERT_TRUE(test::waitUntil([&] { return isRotationOf(text("lblSong"), "Nok & The Tones - Second Wind"); }, 30s))
      << text("lblSong").toStdString();
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_NE(radio.CurrentChannel, 0u);
}

TEST_F(PlayerStreamTest, UnreachablePortShowsNotPlayingAndOneErrorBox) {
  const quint16 port = test::freePort();
  ASSERT_TRUE(load(QStringLiteral("http://127.0.0.1:%1/").arg(port)));
  window->findChild<QTimer *>("Timer6")->stop();
  window->button("btnPresents")->click();
  ASSERT_TRUE(test::waitUntil([&] { return !dialogs.messages.empty() && radio.hOpenThread == 0; }, 20s));
  QCoreApplication::processEvents();
  EXPECT_EQ(text("lblName"), QStringLiteral("not playing"));
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_TRUE(dialogs.messages[0].text.startsWith(QStringLiteral("ไม่สามารถติดต่อเซิฟเวอร์เรดิโอได้\r\n\r\nerror code: ")))
      << dialogs.messages[0].text.toStdString();
  EXPECT_FALSE(dialogs.messages[0].text.endsWith(QStringLiteral("code: 0")));
  EXPECT_EQ(radio.CurrentChannel, 0u);
}

// The band whose bar stands highest in the last spectrum picture (-1 when black).
int tallestBand(const spectrum::SpectrumBuffer &buffer) {
  int best = -1, bestHeight = 0;
  for (int band = 0; band < spectrum::kBands; ++band) {
    int height = 0;
    while (height < spectrum::kHeight && buffer[height * spectrum::kWidth + 4 * band] != 0) ++height;
    if (height > bestHeight) best = band, bestHeight = height;
  }
  return best;
}

TEST_F(PlayerStreamTest, SpectrumFollowsTheToneAndStopPlayReconnectsWithTheClockGoingOn) {
  QTemporaryDir tracks;
  ASSERT_TRUE(makeShortTracks(tracks.path()));
  test::DemoStation station({QStringLiteral("--tracks"), tracks.path()});
  ASSERT_TRUE(station.started()) << station.errorText().toStdString();
  ASSERT_TRUE(load(station.streamUrl()));
  window->findChild<QTimer *>("Timer6")->stop();

  window->button("btnPresents")->click();
  ASSERT_TRUE(test::waitUntil([&] { return text("lblName") == QStringLiteral("Kirasol Demo Station"); }, 30s));
  // Track 1 is a 440 Hz tone: FFT bin 20 (440 * 2048 / 44100).
  const int toneBin = 20;
  ASSERT_TRUE(test::waitUntil(
      [&] {
        const int band = tallestBand(window->spectrum().buffer());
        return band >= 0 && spectrum::bandBins()[band].first <= toneBin && toneBin <= spectrum::bandBins()[band].last;
      },
      10s))
      << "tallest band " << tallestBand(window->spectrum().buffer());

  ASSERT_TRUE(test::waitUntil([&] { return window->clock().seconds() >= 2; }, 10s));
  window->button("lblStop")->click();
  const QString stoppedAt = text("Timer");
  QTest::qWait(1500);
  EXPECT_EQ(text("Timer"), stoppedAt);

  QStringList names;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (names.isEmpty() || names.back() != text("lblName")) names << text("lblName");
  });
  watch.start(5);
  window->button("btnPresents")->click();
  ASSERT_TRUE(test::waitUntil(
      [&] { return names.contains("connecting...") && text("lblName") == QStringLiteral("Kirasol Demo Station"); },
      30s));
  ASSERT_TRUE(test::waitUntil([&] { return text("Timer") != stoppedAt; }, 5s));
  EXPECT_GT(text("Timer"), stoppedAt) << "the clock continues from where it stopped";
  EXPECT_TRUE(dialogs.messages.empty());
}

}  // namespace
}  // namespace kirasol
