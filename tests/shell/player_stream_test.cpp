// The player's stream path end to end: the real audio engine, the main
// window and the demo station on local ports (needs a sound server, as
// scripts/test provides).

#include "player/playback/audio_library.h"
#include "player/shell/frm_main.h"

#include "support/scripted_dialogs.h"
#include "support/test_http_server.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

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
  QStringList names;  // each text lblName showed since watchNames()
  QTimer watch;
  void watchNames() {
    QObject::connect(&watch, &QTimer::timeout, [this] {
      if (names.isEmpty() || names.back() != text("lblName")) names << text("lblName");
    });
    watch.start(5);
  }
};

TEST_F(PlayerStreamTest, PlaysTheDemoStationWithNameBitRateAndTitles) {
  QTemporaryDir tracks;
  ASSERT_TRUE(makeShortTracks(tracks.path()));
  // A first burst of one second, well under the level the player waits
  // for, so that it has to show its buffering.
  test::DemoStation station({QStringLiteral("--tracks"), tracks.path(), QStringLiteral("--metaint"),
                             QStringLiteral("4000"), QStringLiteral("--burst"), QStringLiteral("16000")});
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
  EXPECT_TRUE(dialogs.messages[0].text.startsWith(QStringLiteral("ไม่สามารถติดต่อเซิฟเวอร์เรดิโอได้\r\n")))
      << dialogs.messages[0].text.toStdString();
  EXPECT_FALSE(dialogs.messages[0].text.endsWith(QStringLiteral("code: 0")));
  EXPECT_EQ(radio.CurrentChannel, 0u);
}

// An MP3 stream as Icecast fed by ffmpeg sends it: a title block after every
// `metaint` audio bytes (the body repeats endlessly), no icy-br.
test::HttpResponse icyStream(const QByteArray &audio, int metaint, QByteArray meta) {
  meta.append((16 - meta.size() % 16) % 16, '\0').prepend(char(meta.size() / 16));
  test::HttpResponse r;
  r.mode = test::HttpResponse::Mode::Endless;
  r.headers = {{"Content-Type", "audio/mpeg"}, {"icy-name", "Kirasol Test FM"}, {"icy-metaint", QByteArray::number(metaint)}};
  for (qsizetype at = 0; at + metaint <= audio.size(); at += metaint) r.body += audio.mid(at, metaint) + meta;
  return r;
}

test::HttpResponse answer(QByteArray type, QByteArray body, test::HttpResponse r = {}) {
  r.headers = {{"Content-Type", type}};
  r.body = std::move(body);
  return r;
}

// Answers stations give, played through the engine into the window: what
// the labels show, or the error box with the line that names the cause.
TEST_F(PlayerStreamTest, StationAnswersShowTitlesBitRateAndTheCauseOfAFailure) {
  const QByteArray mp3 = test::readFile(test::programDir() + QStringLiteral("/demo/track1.mp3")).left(8192 * 12);
  ASSERT_EQ(mp3.size(), 8192 * 12);
  const test::HttpResponse live =
      icyStream(mp3, 8192, "StreamTitle='AC;DC - Don't Stop &#3626;&#3640;&#3586;';StreamUrl='';");
  test::TestHttpServer server, secure;
  ASSERT_TRUE(server.listen());
  const QByteArray liveUrl = server.url(QStringLiteral("/live")).toUtf8();
  server.setRoute(QStringLiteral("/live"), live);
  server.setRoute(QStringLiteral("/bom.pls"), answer("audio/x-scpls", "\xEF\xBB\xBF[playlist]\r\nNumberOfEntries=1\r\n"
                                                                       "File1=" + liveUrl + "\r\nVersion=2\r\n"));
  server.setRoute(QStringLiteral("/live.xspf"),
                  answer("application/xspf+xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<playlist xmlns=\"http://"
                                                  "xspf.org/ns/0/\" version=\"1\"><trackList><track><location>" +
                                                      liveUrl + "</location></track></trackList></playlist>\n"));
  server.setRoute(QStringLiteral("/aac"), answer("audio/aac", QByteArray(4096, '\x55'), live));
  QTemporaryDir certDir;
  QSslConfiguration tls;
  ASSERT_TRUE(test::selfSignedServerConfiguration(certDir.path(), tls)) << "openssl could not make a certificate";
  ASSERT_TRUE(secure.listenTls(tls));
  secure.setRoute(QStringLiteral("/live"), live);

  const QString box = QStringLiteral("ไม่สามารถติดต่อเซิฟเวอร์เรดิโอได้\r\nสาเหตุ: ");
  const struct {
    const char *what;
    QString url;
    QString cause;  // empty: plays
  } cases[] = {
      {"titles with ';' and references, no icy-br", server.url("/live"), {}},
      {".pls with a byte-order mark", server.url("/bom.pls"), {}},
      {"XSPF", server.url("/live.xspf"), {}},
      {"refused", QStringLiteral("http://127.0.0.1:%1/").arg(test::freePort()),
       QStringLiteral("ติดต่อเซิฟเวอร์ไม่ได้ (เซิฟเวอร์ไม่ตอบรับหรือไม่มีอยู่)\r\n\r\nerror code: 2")},
      {"untrusted certificate", secure.url("/live"),
       QStringLiteral("ใบรับรองความปลอดภัยของเซิฟเวอร์ไม่น่าเชื่อถือ\r\n\r\nerror code: 10")},
      {"404", server.url("/gone"), QStringLiteral("ไม่พบสถานีนี้บนเซิฟเวอร์ (404)\r\n\r\nerror code: 2")},
      {"AAC", server.url("/aac"), QStringLiteral("ไม่รองรับรูปแบบเสียงของสถานีนี้ (เล่นได้เฉพาะ MP3)\r\n\r\nerror code: 41")},
  };
  ASSERT_TRUE(load(cases[0].url));
  for (const char *marquee : {"Timer3", "Timer6"}) window->findChild<QTimer *>(marquee)->stop();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    dialogs.messages.clear();
    // Nothing the previous case left may pass for this one's result.
    window->setSongText(QString());
    window->setStationText(QString());
    window->setBitRateText(QStringLiteral("HTTP/1.0 200 OK"));
    radio.StationUrls = QStringList{c.url};
    window->button("btnPresents")->click();
    if (c.cause.isEmpty()) {
      ASSERT_TRUE(test::waitUntil([&] { return text("lblSong") == QStringLiteral("AC;DC - Don't Stop สุข"); }, 20s))
          << text("lblSong").toStdString();
      // The test server writes "icy-name: value"; the blank is kept as sent.
      EXPECT_EQ(text("lblName"), QStringLiteral(" Kirasol Test FM"));
      EXPECT_EQ(text("lblBPS"), QString()) << "no icy-br: no bit rate, not the status line";
      EXPECT_TRUE(dialogs.messages.empty());
    } else {
      ASSERT_TRUE(test::waitUntil([&] { return !dialogs.messages.empty() && radio.hOpenThread == 0; }, 20s));
      EXPECT_EQ(dialogs.messages[0].text, box + c.cause);
      EXPECT_EQ(text("lblName"), QStringLiteral("not playing"));
    }
  }
  EXPECT_FALSE(server.requestedPaths().contains(QStringLiteral("/NumberOfEntries=1")));
}

// What the null sink plays, from its monitor: 44.1 kHz mono 16-bit.
struct SinkCapture {
  static constexpr std::size_t kRate = 44100;
  QProcess parec;
  std::vector<int16_t> x;
  SinkCapture() {
    QObject::connect(&parec, &QProcess::readyReadStandardOutput, [this] {
      const QByteArray bytes = parec.read(parec.bytesAvailable() & ~qint64(1));
      x.insert(x.end(), (const int16_t *)bytes.data(), (const int16_t *)(bytes.data() + bytes.size()));
    });
    parec.start("parec", {"--raw", "--format=s16le", "--rate=44100", "--channels=1", "-d", "kirasol_null.monitor"});
  }
  ~SinkCapture() { parec.kill(), parec.waitForFinished(); }
  // Silences of 10 ms or more after the first sound: {first sample, length}.
  std::vector<std::pair<std::size_t, std::size_t>> gaps() const {
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    for (std::size_t i = 0, last = SIZE_MAX; i <= x.size(); ++i) {
      if (i < x.size() && std::abs(x[i]) < 200) continue;
      if (last != SIZE_MAX && i - last > kRate / 100) runs.push_back({last + 1, i - last - 1});
      last = i;
    }
    return runs;
  }
  int largestStep(std::size_t from, std::size_t to) const {
    int step = 0;
    for (std::size_t i = from + 1; i < std::min(to, x.size()); ++i) step = std::max(step, std::abs(x[i] - x[i - 1]));
    return step;
  }
};

TEST_F(PlayerStreamTest, AStationThatDropsComesBackWithoutAClickAndStopEndsTheRetries) {
  SinkCapture sink;
  ASSERT_TRUE(sink.parec.waitForStarted());
  auto station = std::make_unique<test::DemoStation>();
  ASSERT_TRUE(station->started()) << station->errorText().toStdString();
  const QString port = QString::number(station->streamPort());
  ASSERT_TRUE(load(station->streamUrl()));
  window->findChild<QTimer *>("Timer6")->stop();
  watchNames();

  window->button("btnPresents")->click();
  const auto playing = [&] { return text("lblName") == QStringLiteral("Kirasol Demo Station"); };
  ASSERT_TRUE(test::waitUntil(playing, 30s));
  QTest::qWait(2000);

  // The station goes away for 10 s; the buffer plays out, then the player
  // keeps trying.
  station.reset();
  QElapsedTimer down;
  down.start();
  ASSERT_TRUE(test::waitUntil([&] { return text("lblName").startsWith("reconnecting... ("); }, 15s))
      << text("lblName").toStdString();
  EXPECT_TRUE(window->findChild<QTimer *>("Timer5")->isActive()) << "the clock goes on while reconnecting";
  ASSERT_TRUE(test::waitUntil([&] { return down.elapsed() >= 10000; }, 15s));
  const std::size_t backAt = sink.x.size();
  station = std::make_unique<test::DemoStation>(QStringList{QStringLiteral("--stream-port"), port});
  ASSERT_TRUE(station->started()) << station->errorText().toStdString();
  ASSERT_TRUE(test::waitUntil(playing, 40s)) << names.join(" | ").toStdString();
  EXPECT_TRUE(names.contains(QStringLiteral("reconnecting... (1)"))) << names.join(" | ").toStdString();
  EXPECT_TRUE(dialogs.messages.empty());
  QTest::qWait(2500);

  // The sound comes back as the station sends it: faded in, no step.
  const auto gaps = sink.gaps();
  ASSERT_FALSE(gaps.empty());
  const std::size_t resumed = gaps.back().first + gaps.back().second;
  EXPECT_GT(resumed, backAt) << "silence before the station was back";
  EXPECT_GT(gaps.back().second, std::size_t(SinkCapture::kRate)) << "one long silence while the station was away";
  const int onset = sink.largestStep(resumed, resumed + SinkCapture::kRate / 10);
  const int steady = sink.largestStep(sink.x.size() - SinkCapture::kRate, sink.x.size());
  EXPECT_LE(onset, steady) << "click at resume: step " << onset << " against " << steady << " while playing";

  // Away again, its port taking connections and closing them: Stop during a
  // pause ends the attempts at once.
  station.reset();
  QTcpServer counting;
  ASSERT_TRUE(counting.listen(QHostAddress::LocalHost, port.toUShort()));
  int connections = 0;
  QObject::connect(&counting, &QTcpServer::newConnection, [&] {
    while (QTcpSocket *s = counting.nextPendingConnection()) ++connections, s->close();
  });
  ASSERT_TRUE(test::waitUntil([&] { return text("lblName") == QStringLiteral("reconnecting... (2)"); }, 20s))
      << text("lblName").toStdString();
  EXPECT_EQ(connections, 1);
  window->button("lblStop")->click();
  QTest::qWait(7000);  // past the next two pauses (2 s, 4 s)
  EXPECT_EQ(connections, 1);
  EXPECT_EQ(text("lblName"), QStringLiteral("not playing"));
}

TEST_F(PlayerStreamTest, ASlowStationRebuffersInOnePieceAndSaysSo) {
  SinkCapture sink;
  ASSERT_TRUE(sink.parec.waitForStarted());
  // 0.7 x real time: the buffer runs dry after about 16 s of play.
  test::DemoStation station({QStringLiteral("--speed"), QStringLiteral("0.7")});
  ASSERT_TRUE(station.started()) << station.errorText().toStdString();
  ASSERT_TRUE(load(station.streamUrl()));
  window->findChild<QTimer *>("Timer6")->stop();
  watchNames();
  window->button("btnPresents")->click();
  const auto playing = [&] { return text("lblName") == QStringLiteral("Kirasol Demo Station"); };
  ASSERT_TRUE(test::waitUntil(playing, 30s));
  const qsizetype started = names.size();
  ASSERT_TRUE(test::waitUntil([&] { return text("lblName").startsWith("buffering... "); }, 40s));
  ASSERT_TRUE(test::waitUntil(playing, 20s)) << names.join(" | ").toStdString();
  QTest::qWait(1500);
  EXPECT_GT(names.size(), started);
  EXPECT_TRUE(dialogs.messages.empty());

  // Sound stops once for the re-buffer (seconds), never for a moment. The
  // first track lasts longer than what is heard here, so no track change.
  std::vector<double> gaps;
  for (const auto &[at, length] : sink.gaps()) gaps.push_back(double(length) / SinkCapture::kRate);
  ASSERT_FALSE(gaps.empty());
  EXPECT_GT(gaps.back(), 2.0);
  for (double g : gaps) EXPECT_GT(g, 2.0) << "a short gap: a stutter";
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

  watchNames();
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
