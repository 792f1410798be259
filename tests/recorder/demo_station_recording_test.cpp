// The recorder window against the bundled demo station, and the relay with
// raw player sockets and the real mpg123 client.

#include "player/recorder/frm_reccord.h"
#include "player/recorder/station_protocol.h"
#include "recorder/mp3_file_check.h"
#include "recorder/print_qt.h"
#include "recorder/recorder_window.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace std::chrono_literals;

namespace kirasol::recorder {
namespace {

using test::DemoStation;
using test::tonePower;
using test::readFile;
using test::waitUntil;

struct Track {
  QByteArray bytes;
  QString title;
  int frequency = 0;
};

std::vector<Track> demoTracks() {
  std::vector<Track> tracks;
  const QString folder = test::programDir() + QStringLiteral("/demo/");
  for (const QString &line : QString::fromUtf8(readFile(folder + "tracks.txt")).split(u'\n', Qt::SkipEmptyParts)) {
    const QStringList f = line.trimmed().split(u'|');
    if (f.size() == 3) tracks.push_back({readFile(folder + f[0]), f[1], f[2].toInt()});
  }
  return tracks;
}

using Window = RecorderWindow;

// A player on the relay: sends its request, then collects what comes.
struct Player {
  QTcpSocket socket;
  QByteArray got;
  explicit Player(quint16 port, const QByteArray &request = "GET / HTTP/1.0\r\nUser-Agent: test\r\nIcy-MetaData:1\r\n\r\n") {
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.waitForConnected(3000);
    socket.write(request);
  }
  bool readUntil(qsizetype size) {
    return waitUntil([&] {
      got += socket.readAll();
      return got.size() >= size;
    }, 15s);
  }
};

// Each song's file begins with its tag and then whole frames only: the cut
// falls on the first frame start at or after the block that announced the
// song, so a frame the block fell into stays with the song before. Together
// the files' audio is the stream's, byte for byte.
TEST(DemoStationRecording, EverySongGetsItsOwnTaggedFileOfWholeFrames) {
  const auto tracks = demoTracks();
  ASSERT_EQ(tracks.size(), 3u);
  constexpr int kMetaInt = 4096;
  DemoStation station({"--fast", "--once", "--metaint", QString::number(kMetaInt)});
  ASSERT_TRUE(station.started()) << qPrintable(station.errorText());

  Window t;
  t.w.findChild<QCheckBox *>("chkTags")->setChecked(true);
  t.w.findChild<QCheckBox *>("chkFilebysong")->setChecked(true);
  QTest::mouseClick(t.w.findChild<QPushButton *>("CmdRecord"), Qt::LeftButton);  // before the tune: ".mp3"
  t.tune(station.streamPort());
  // The station closes after its last track; the recorder will reconnect in
  // a second, so the recording is stopped as soon as that shows.
  ASSERT_TRUE(waitUntil([&] { return t.text("lblRadio").startsWith(QStringLiteral("Disconnected - reconnecting")); }, 60s))
      << t.text("lblRadio").toStdString();
  const QString stationName = QStringLiteral("Kirasol Demo Station");  // its icy-name
  EXPECT_EQ(t.text("lblBitrate"), QStringLiteral("Bitrate: 128 Kbps"));
  EXPECT_TRUE(t.w.findChild<QPushButton *>("CmdRecord")->isChecked()) << "the file stays open after the close";
  t.click("CmdRecord");
  EXPECT_EQ(t.text("lblTitle"), QStringLiteral("Title: '%1'").arg(tracks[2].title));

  // The stream is the tracks back to back, and their frames.
  QByteArray all;
  std::vector<qsizetype> trackStarts;
  for (const Track &track : tracks) {
    trackStarts.push_back(all.size());
    all += track.bytes;
  }
  std::vector<qsizetype> frameStarts;
  for (qsizetype at = 0; at + 4 <= all.size();) {
    const auto info = audio::parseMp3Header(reinterpret_cast<const uint8_t *>(all.constData()) + at);
    ASSERT_TRUE(info) << "demo stream frame at " << at;
    frameStarts.push_back(at);
    at += qsizetype(info->frameBytes);
  }
  const auto frameFrom = [&](qsizetype at) {
    const auto it = std::lower_bound(frameStarts.begin(), frameStarts.end(), at);
    return it == frameStarts.end() ? all.size() : *it;
  };
  // The very first block announces track 1; later titles come with the first
  // block inside their track.
  std::vector<qsizetype> cuts{0, frameFrom(kMetaInt)};
  for (std::size_t i = 1; i < tracks.size(); ++i)
    cuts.push_back(frameFrom((trackStarts[i] + kMetaInt - 1) / kMetaInt * kMetaInt));
  cuts.push_back(all.size());

  QStringList names{QStringLiteral(".mp3")};
  for (const Track &track : tracks) names << u'\'' + track.title + QStringLiteral("'.mp3");
  EXPECT_EQ(t.files().size(), names.size()) << t.files().join(u',').toStdString();
  const QString today = QDate::currentDate().toString(Qt::ISODate);
  QByteArray joined;
  for (qsizetype i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i].toStdString());
    const QByteArray file = readFile(t.file(names[i]));
    const test::Id3Text tag = test::readId3(file);
    ASSERT_GT(tag.size, 0);
    EXPECT_EQ(tag.version, 4);
    const QByteArray audio = file.mid(tag.size);
    EXPECT_GT(test::wholeFrames(audio), 0) << "a frame header at the tag's end and a whole frame at the file's end";
    EXPECT_TRUE(audio == all.mid(cuts[i], cuts[i + 1] - cuts[i])) << audio.size() << " bytes";
    joined += audio;

    EXPECT_EQ(tag.frames.value("TALB"), stationName);
    EXPECT_EQ(tag.frames.value("TRSN"), stationName);
    EXPECT_TRUE(tag.frames.value("TDRC").startsWith(today)) << tag.frames.value("TDRC").toStdString();
    if (i == 0) {
      EXPECT_EQ(tag.frames.value("TIT2"), stationName) << "no song yet: named after the station";
    } else {
      const QStringList artistTitle = tracks[i - 1].title.split(QStringLiteral(" - "));
      EXPECT_EQ(tag.frames.value("TPE1"), artistTitle[0]);
      EXPECT_EQ(tag.frames.value("TIT2"), artistTitle[1]);  // Thai in two of them
    }
  }
  EXPECT_TRUE(joined == all) << "the files' audio together is the stream's";
}

TEST(DemoStationRecording, StationVariants) {
  {
    DemoStation station({"--fast", "--no-icy-name"});
    ASSERT_TRUE(station.started()) << qPrintable(station.errorText());
    Window t;
    t.tune(station.streamPort());
    ASSERT_TRUE(waitUntil([&] { return t.w.state().bIcyOK; }, 10s));
    EXPECT_EQ(t.text("lblRadio"), QStringLiteral("unknown station"));
    EXPECT_EQ(t.text("lblBitrate"), QStringLiteral("Bitrate: 128 Kbps"));
  }
  {
    DemoStation station({"--fast", "--http10"});
    ASSERT_TRUE(station.started()) << qPrintable(station.errorText());
    Window t;
    t.dialogs.inputs.push_back(QStringLiteral("never.mp3"));
    QTest::mouseClick(t.w.findChild<QPushButton *>("CmdRecord"), Qt::LeftButton);
    t.tune(station.streamPort());
    // An HTTP status line is never taken for a station, and the window says so.
    ASSERT_TRUE(waitUntil([&] { return t.text("lblRadio") == QStringLiteral("Not an ICY station: \"HTTP/1.0 200 OK\""); }, 10s))
        << t.text("lblRadio").toStdString();
    EXPECT_FALSE(t.w.state().bIcyOK);
    EXPECT_EQ(t.text("lblBitrate"), QStringLiteral("Bitrate:"));
    EXPECT_TRUE(readFile(t.dir.path() + "/never.mp3").isEmpty());
  }
}

TEST(DemoStationRecording, RelayedStreamStartsAtARunAndKeepsItsFraming) {
  const auto tracks = demoTracks();
  ASSERT_EQ(tracks.size(), 3u);
  QByteArray loop;
  for (const Track &track : tracks) loop += track.bytes;
  loop += loop;  // the station loops; a relayed piece may wrap around

  constexpr int kMetaInt = 2000;
  DemoStation station({"--speed", "20", "--metaint", QString::number(kMetaInt)});
  ASSERT_TRUE(station.started()) << qPrintable(station.errorText());
  Window t;
  t.tune(station.streamPort());
  ASSERT_TRUE(waitUntil([&] { return t.w.state().lAudioCount > 0; }, 10s));

  Player player(t.relayPort);
  const QByteArray headers = t.w.state().sIcyHeaders;
  ASSERT_TRUE(player.readUntil(headers.size() + 20 * (kMetaInt + 1)));
  ASSERT_TRUE(player.got.startsWith(headers));
  EXPECT_EQ(metaIntFrom(headers), kMetaInt);
  EXPECT_EQ(t.text("lblWinampStatus"), QStringLiteral("Winamp Connected"));

  // Demultiplex what the player got with the forwarded metaint alone.
  QByteArrayView rest = QByteArrayView(player.got).sliced(headers.size());
  QByteArray audio;
  int blocks = 0;
  while (rest.size() > kMetaInt) {
    audio += rest.first(kMetaInt);
    const int length = 16 * static_cast<unsigned char>(rest.at(kMetaInt));
    if (rest.size() < kMetaInt + 1 + length) break;
    const QByteArrayView text = rest.sliced(kMetaInt + 1, length);
    if (length > 0) {
      EXPECT_TRUE(text.startsWith("StreamTitle='")) << "block " << blocks;
    }
    rest = rest.sliced(kMetaInt + 1 + length);
    ++blocks;
  }
  EXPECT_GE(blocks, 19);
  EXPECT_GE(loop.indexOf(audio), 0) << "the relayed audio is a piece of the station's tracks";
}

// A player that does not ask for metadata (mpg123 --no-icy-meta) gets the
// headers without icy-metaint, then a stretch of the tracks byte for byte.
TEST(DemoStationRecording, PlayerWithoutMetadataGetsTheAudioAlone) {
  QByteArray loop;
  for (const Track &track : demoTracks()) loop += track.bytes;
  loop += loop;
  DemoStation station({"--speed", "20", "--metaint", "2000"});
  ASSERT_TRUE(station.started()) << qPrintable(station.errorText());
  Window t;
  t.tune(station.streamPort());
  ASSERT_TRUE(waitUntil([&] { return t.w.state().lAudioCount > 0; }, 10s));

  Player player(t.relayPort, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: mpg123/1.31\r\n\r\n");
  ASSERT_TRUE(player.readUntil(200000));
  const qsizetype end = player.got.indexOf("\r\n\r\n") + 4;
  EXPECT_TRUE(player.got.startsWith("ICY 200 OK\r\n"));
  EXPECT_FALSE(player.got.left(end).toLower().contains("icy-metaint"));
  EXPECT_GE(loop.indexOf(player.got.mid(end)), 0) << "the relayed bytes are one piece of the station's tracks";
}

TEST(DemoStationRecording, Mpg123PlaysTheRelay) {
  const auto tracks = demoTracks();
  ASSERT_EQ(tracks.size(), 3u);
  DemoStation station({"--speed", "2"});
  ASSERT_TRUE(station.started()) << qPrintable(station.errorText());
  Window t;
  t.tune(station.streamPort());
  ASSERT_TRUE(waitUntil([&] { return t.w.state().bIcyOK; }, 10s));

  QProcess mpg123;
  mpg123.start(QStringLiteral("mpg123"), {"-q", "-s", "-r", "44100", "-e", "s16",
                                          QStringLiteral("http://127.0.0.1:%1/").arg(t.relayPort)});
  ASSERT_TRUE(mpg123.waitForStarted(5000)) << "mpg123 is needed for this test";
  QByteArray pcm;
  const qsizetype wanted = 44100 * 4 * 2;  // two seconds of 16-bit stereo
  waitUntil([&] {
    pcm += mpg123.readAllStandardOutput();
    return pcm.size() >= wanted;
  }, 30s);
  mpg123.kill();
  mpg123.waitForFinished(3000);
  ASSERT_GE(pcm.size(), wanted) << "mpg123 decoded too little from the relay";

  // The relay joins at a run start inside one of the tracks; whichever it
  // is, its tone stands far above the others.
  std::vector<double> mono;
  const auto *s = reinterpret_cast<const qint16 *>(pcm.constData());
  for (qsizetype i = 22050; i < wanted / 4; ++i) mono.push_back((s[2 * i] + s[2 * i + 1]) / 65536.0);
  std::vector<double> power;
  for (const Track &track : tracks) power.push_back(tonePower(mono, track.frequency, 44100));
  const auto loudest = std::max_element(power.begin(), power.end()) - power.begin();
  for (std::size_t i = 0; i < power.size(); ++i) {
    if (qsizetype(i) != loudest) {
      EXPECT_GT(power[loudest], 20 * power[i]) << tracks[i].frequency << " Hz";
    }
  }
  EXPECT_GT(power[loudest], 20 * tonePower(mono, 660, 44100));
}

TEST(DemoStationRecording, StalledPlayerIsDroppedWhileRecordingGoesOn) {
  DemoStation station({"--speed", "50"});  // 800 kB/s: the bound is passed within seconds
  ASSERT_TRUE(station.started()) << qPrintable(station.errorText());
  Window t;
  t.dialogs.inputs.push_back(QStringLiteral("on.mp3"));
  QTest::mouseClick(t.w.findChild<QPushButton *>("CmdRecord"), Qt::LeftButton);
  t.tune(station.streamPort());
  ASSERT_TRUE(waitUntil([&] { return t.w.state().bIcyOK; }, 10s));

  Player stalled(t.relayPort);
  stalled.socket.setReadBufferSize(1);  // takes a byte, then leaves the rest to pile up
  ASSERT_TRUE(waitUntil([&] { return t.w.relay().hasPlayer(); }, 10s));
  ASSERT_TRUE(waitUntil([&] { return !t.w.relay().hasPlayer(); }, 60s)) << "the stalled player is dropped";
  EXPECT_FALSE(t.w.state().bRelaying);
  EXPECT_TRUE(t.w.relay().isListening());
  const qint32 before = t.w.state().lBytesWritten;
  ASSERT_TRUE(waitUntil([&] { return t.w.state().lBytesWritten > before + 100000; }, 10s)) << "recording goes on";
  EXPECT_TRUE(t.w.findChild<QPushButton *>("CmdRecord")->isChecked());

  Player next(t.relayPort);  // and the next player is served
  EXPECT_TRUE(next.readUntil(t.w.state().sIcyHeaders.size() + 1000));
}

// The station goes away mid-song and comes back on the same port a few
// seconds later. The recorder shows that it is reconnecting, the recording
// goes on in the same file (with the returned station's stream, which starts
// each listener at its first track), and the player on the relay, never
// disconnected, receives audio again in the framing it was promised.
TEST(DemoStationRecording, StationThatDropsAndReturns) {
  const auto tracks = demoTracks();
  ASSERT_EQ(tracks.size(), 3u);
  QByteArray all;
  for (const Track &track : tracks) all += track.bytes;
  const QStringList args{"--speed", "4", "--metaint", "4000"};
  auto station = std::make_unique<DemoStation>(args);
  ASSERT_TRUE(station->started()) << qPrintable(station->errorText());
  const quint16 port = station->streamPort();

  Window t;
  t.dialogs.inputs.push_back(QStringLiteral("drop.mp3"));
  t.click("CmdRecord");
  t.tune(port);
  ASSERT_TRUE(waitUntil([&] { return t.w.state().bIcyOK; }, 10s));
  const QString name = t.text("lblRadio");
  const QByteArray headers = t.w.state().sIcyHeaders;
  Player player(t.relayPort);
  ASSERT_TRUE(player.readUntil(headers.size() + 100000));

  station.reset();  // the station process ends: its connections close
  ASSERT_TRUE(waitUntil([&] { return t.text("lblRadio").startsWith(QStringLiteral("Disconnected - reconnecting")); }, 10s));
  const qint32 before = t.w.state().lBytesWritten;
  // Let an attempt or two fail against the closed port first.
  ASSERT_TRUE(waitUntil([&] { return t.text("lblRadio") == QStringLiteral("Disconnected - reconnecting in 2 s..."); }, 5s))
      << t.text("lblRadio").toStdString();
  EXPECT_EQ(t.text("lblWinampStatus"), QStringLiteral("Winamp Connected"));
  const qsizetype relayedBefore = (player.got += player.socket.readAll()).size();

  station = std::make_unique<DemoStation>(QStringList{"--stream-port", QString::number(port)} + args);
  ASSERT_TRUE(station->started()) << qPrintable(station->errorText());
  ASSERT_TRUE(waitUntil([&] { return t.text("lblRadio") == name; }, 15s)) << t.text("lblRadio").toStdString();
  ASSERT_TRUE(waitUntil([&] { return t.w.state().lBytesWritten > before + 100000 + 2000; }, 15s));  // a frame comes off at the stop
  ASSERT_TRUE(player.readUntil(relayedBefore + 100000));
  t.click("CmdRecord");

  // The file: the stream up to the drop, then the returned stream from its start.
  const QByteArray file = readFile(t.file("drop.mp3"));
  EXPECT_EQ(t.files(), QStringList{QStringLiteral("drop.mp3")});
  ASSERT_GT(file.size(), before + 100000);
  EXPECT_TRUE(file.left(before) == all.left(before));
  EXPECT_GT(test::wholeFrames(QByteArrayView(file).first(before)), 0) << "the frame cut off by the drop is gone";
  EXPECT_TRUE(file.mid(before, 100000) == all.left(100000));

  // The player: one header block, then blocks every metaint bytes all the
  // way through the splice, and the returned stream's first track in it.
  ASSERT_TRUE(player.got.startsWith(headers));
  EXPECT_EQ(player.got.count("ICY 200 OK"), 1);
  const int metaInt = metaIntFrom(headers);
  ASSERT_EQ(metaInt, 4000);
  QByteArrayView rest = QByteArrayView(player.got).sliced(headers.size());
  QByteArray audio;
  while (rest.size() > metaInt) {
    audio += rest.first(metaInt);
    const int length = 16 * static_cast<unsigned char>(rest.at(metaInt));
    if (rest.size() < metaInt + 1 + length) break;
    if (length > 0) {
      ASSERT_TRUE(rest.sliced(metaInt + 1, length).startsWith("StreamTitle='")) << "block at " << audio.size();
    }
    rest = rest.sliced(metaInt + 1 + length);
  }
  const qsizetype splice = audio.indexOf(all.left(50000), 1);
  EXPECT_GT(splice, 0) << "the returned stream reaches the player";
  EXPECT_GE(audio.size(), splice + 50000);
}

}  // namespace
}  // namespace kirasol::recorder
