// The demo station as a real process, seen through raw sockets and through
// the real mpg123 client.

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <arpa/inet.h>
#include <cmath>
#include <csignal>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

using kirasol::test::DemoStation;
using kirasol::test::tonePower;

namespace {

struct DemoTrack {
  QString title;
  int frequency = 0;
  QByteArray bytes;
};

// The bundled tracks as the tests know them: tracks.txt and the files next to it.
std::vector<DemoTrack> demoTracks() {
  const QString dir = kirasol::test::programDir() + QStringLiteral("/demo/");
  std::vector<DemoTrack> tracks;
  const QString list = QString::fromUtf8(kirasol::test::readFile(dir + QStringLiteral("tracks.txt")));
  for (const QString &line : list.split(u'\n', Qt::SkipEmptyParts)) {
    const QStringList f = line.split(u'|');
    if (f.size() < 3) continue;
    tracks.push_back({f[1], f[2].toInt(), kirasol::test::readFile(dir + f[0])});
  }
  return tracks;
}

// A listener on its own blocking socket.
class Listener {
 public:
  Listener(quint16 port, const QByteArray &extraHeaders) {
    socket_.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket_.waitForConnected(5000)) return;
    socket_.write("GET / HTTP/1.0\r\nHost: 127.0.0.1\r\nUser-Agent: test\r\n" + extraHeaders + "\r\n");
    while (!buffer_.contains("\r\n\r\n") && socket_.waitForReadyRead(5000)) buffer_ += socket_.readAll();
    const qsizetype end = buffer_.indexOf("\r\n\r\n");
    if (end < 0) return;
    head_ = buffer_.left(end + 2);
    buffer_.remove(0, end + 4);
  }

  const QByteArray &head() const { return head_; }

  QByteArray headerValue(const QByteArray &name) const {
    for (const QByteArray &line : head_.split('\n'))
      if (line.toLower().startsWith(name.toLower() + ':')) return line.mid(name.size() + 1).trimmed();
    return {};
  }

  // Exactly n more bytes, or fewer if the station closes first.
  QByteArray read(qsizetype n) {
    while (buffer_.size() < n) {
      if (socket_.bytesAvailable() == 0 && !socket_.waitForReadyRead(5000)) break;
      buffer_ += socket_.readAll();
    }
    QByteArray out = buffer_.left(n);
    buffer_.remove(0, out.size());
    return out;
  }

  // Everything until the station closes the connection.
  QByteArray readToEnd() {
    QByteArray out = buffer_;
    buffer_.clear();
    while (socket_.waitForReadyRead(5000)) out += socket_.readAll();
    return out + socket_.readAll();
  }

 private:
  QTcpSocket socket_;
  QByteArray head_;
  QByteArray buffer_;
};

struct Parsed {
  QByteArray audio;
  std::vector<std::pair<qint64, QByteArray>> blocks;  // audio offset, text without padding
  bool ok = true;
};

// Reads `runs` audio runs of `metaInt` bytes, each followed by a metadata block.
Parsed readFramed(Listener &listener, int metaInt, int runs) {
  Parsed p;
  for (int i = 0; i < runs && p.ok; ++i) {
    const QByteArray audio = listener.read(metaInt);
    p.audio += audio;
    if (audio.size() != metaInt) { p.ok = false; break; }
    const QByteArray len = listener.read(1);
    if (len.size() != 1) { p.ok = false; break; }
    const int units = static_cast<unsigned char>(len[0]);
    QByteArray text = listener.read(units * 16);
    if (text.size() != units * 16) { p.ok = false; break; }
    while (text.endsWith('\0')) text.chop(1);
    p.blocks.push_back({p.audio.size(), text});
  }
  return p;
}

QByteArray titleText(const QString &title) { return "StreamTitle='" + title.toUtf8() + "';StreamUrl='';"; }

}  // namespace

TEST(DemoStationStream, FramesTheTracksWithTitlesAtTrackBoundaries) {
  const auto tracks = demoTracks();
  ASSERT_EQ(tracks.size(), 3u);
  QByteArray all;
  std::vector<qint64> starts;
  for (const auto &t : tracks) {
    ASSERT_FALSE(t.bytes.isEmpty());
    starts.push_back(all.size());
    all += t.bytes;
  }
  const int metaInt = 4000;  // not a divisor of any track length, so blocks fall mid-track
  DemoStation station({QStringLiteral("--fast"), QStringLiteral("--metaint"), QString::number(metaInt)});
  ASSERT_TRUE(station.started()) << qPrintable(station.errorText());
  Listener l(station.streamPort(), "Icy-MetaData:1\r\n");
  ASSERT_TRUE(l.head().startsWith("ICY 200 OK\r\n")) << l.head().constData();
  EXPECT_EQ(l.headerValue("icy-metaint"), QByteArray::number(metaInt));
  EXPECT_EQ(l.headerValue("icy-name"), "Kirasol Demo Station");
  EXPECT_EQ(l.headerValue("icy-br"), "128");
  EXPECT_EQ(l.headerValue("content-type"), "audio/mpeg");

  // One whole pass and a little of the next: the loop starts over with track 1.
  const int runs = int(all.size() / metaInt) + 40;
  const Parsed p = readFramed(l, metaInt, runs);
  ASSERT_TRUE(p.ok);
  const QByteArray looped = all + all;
  ASSERT_EQ(p.audio, looped.left(p.audio.size()));

  const auto trackAt = [&](qint64 offset) {
    offset %= all.size();
    std::size_t t = 0;
    while (t + 1 < starts.size() && offset >= starts[t + 1]) ++t;
    return t;
  };
  int announcements = 0;
  std::optional<std::size_t> last;
  for (const auto &[offset, text] : p.blocks) {
    const std::size_t t = trackAt(offset);
    if (!last || *last != t) {
      EXPECT_EQ(text, titleText(tracks[t].title)) << "block at " << offset;
      ++announcements;
      last = t;
    } else {
      EXPECT_TRUE(text.isEmpty()) << "block at " << offset;
    }
  }
  EXPECT_EQ(announcements, 4);  // tracks 1, 2, 3 and 1 again
}

TEST(DemoStationStream, MetadataOnlyWhenAskedFor) {
  const auto tracks = demoTracks();
  ASSERT_FALSE(tracks.empty());
  DemoStation station({QStringLiteral("--fast")});
  ASSERT_TRUE(station.started()) << qPrintable(station.errorText());
  struct Case {
    QByteArray header;
    bool metadata;
  };
  const std::vector<Case> cases = {
      {"", false},
      {"Icy-MetaData:0\r\n", false},
      {"Icy-MetaData:1\r\n", true},
      {"icy-metadata: 1\r\n", true},
      {"ICY-METADATA:1\r\n", true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.header.constData());
    Listener l(station.streamPort(), c.header);
    ASSERT_TRUE(l.head().startsWith("ICY 200 OK\r\n"));
    EXPECT_EQ(l.head().toLower().contains("icy-metaint:"), c.metadata);
    if (c.metadata) {
      EXPECT_EQ(l.headerValue("icy-metaint"), "8192");
      const Parsed p = readFramed(l, 8192, 3);
      ASSERT_TRUE(p.ok);
      EXPECT_EQ(p.blocks[0].second, titleText(tracks[0].title));
      EXPECT_TRUE(p.blocks[1].second.isEmpty());
    } else {
      EXPECT_EQ(l.read(100000), tracks[0].bytes.left(100000));  // audio alone
    }
  }
}

TEST(DemoStationStream, EveryListenerGetsItsOwnStreamFromTheFirstByte) {
  const auto tracks = demoTracks();
  ASSERT_FALSE(tracks.empty());
  DemoStation station({QStringLiteral("--fast")});
  ASSERT_TRUE(station.started()) << qPrintable(station.errorText());
  std::vector<std::unique_ptr<Listener>> listeners;
  for (int i = 0; i < 12; ++i) {
    listeners.push_back(std::make_unique<Listener>(station.streamPort(), ""));
    listeners.back()->read(1000 * i);  // the earlier ones are further along
  }
  for (std::size_t i = 0; i < listeners.size(); ++i) {
    const QByteArray more = listeners[i]->read(30000);
    EXPECT_EQ(more, tracks[0].bytes.mid(qsizetype(1000 * i), 30000)) << "listener " << i;
  }
}

TEST(DemoStationStream, OptionsChangeStatusLineNameTitlesAndLooping) {
  const auto tracks = demoTracks();
  ASSERT_EQ(tracks.size(), 3u);
  {
    DemoStation station({QStringLiteral("--fast"), QStringLiteral("--http10"), QStringLiteral("--no-icy-name"),
                         QStringLiteral("--repeat-title"), QStringLiteral("--metaint"), QStringLiteral("16000")});
    ASSERT_TRUE(station.started()) << qPrintable(station.errorText());
    Listener l(station.streamPort(), "Icy-MetaData:1\r\n");
    EXPECT_TRUE(l.head().startsWith("HTTP/1.0 200 OK\r\n")) << l.head().constData();
    EXPECT_FALSE(l.head().toLower().contains("icy-name:"));
    const Parsed p = readFramed(l, 16000, 5);
    ASSERT_TRUE(p.ok);
    for (const auto &[offset, text] : p.blocks) EXPECT_EQ(text, titleText(tracks[0].title)) << offset;
  }
  {
    DemoStation station({QStringLiteral("--fast"), QStringLiteral("--once")});
    ASSERT_TRUE(station.started()) << qPrintable(station.errorText());
    Listener l(station.streamPort(), "");
    EXPECT_EQ(l.readToEnd(), tracks[0].bytes + tracks[1].bytes + tracks[2].bytes);
  }
}

TEST(DemoStationStream, SendsTheBurstAtOnceThenPacesAtTheBitRate) {
  const auto tracks = demoTracks();
  ASSERT_FALSE(tracks.empty());
  const qint64 burst = 20000;
  const double rate = 128000 / 8.0 * 4;  // --speed 4
  DemoStation station({QStringLiteral("--burst"), QString::number(burst), QStringLiteral("--speed"),
                       QStringLiteral("4")});
  ASSERT_TRUE(station.started()) << qPrintable(station.errorText());
  QElapsedTimer clock;
  clock.start();  // before the station's own clock for this listener starts
  Listener l(station.streamPort(), "");
  EXPECT_EQ(l.read(burst), tracks[0].bytes.left(burst));
  QByteArray audio;
  while (clock.elapsed() < 2000) audio += l.read(1);
  const double seconds = clock.elapsed() / 1000.0;
  const qint64 total = burst + audio.size();
  // Never ahead of the pace; the lower bound leaves room for a loaded machine.
  EXPECT_LE(total, burst + qint64(rate * seconds) + 1);
  EXPECT_GE(total, burst + qint64(rate * seconds * 0.25));
}

TEST(DemoStationStream, Mpg123DecodesTheFirstTracksTone) {
  const auto tracks = demoTracks();
  ASSERT_FALSE(tracks.empty());
  DemoStation station;  // default pacing: the burst gives mpg123 a few seconds at once
  ASSERT_TRUE(station.started()) << qPrintable(station.errorText());
  QProcess mpg123;
  mpg123.start(QStringLiteral("mpg123"), {QStringLiteral("-q"), QStringLiteral("-s"), QStringLiteral("-r"),
                                          QStringLiteral("44100"), QStringLiteral("-e"), QStringLiteral("s16"),
                                          station.streamUrl()});
  ASSERT_TRUE(mpg123.waitForStarted(5000)) << "mpg123 is needed for this test";
  QByteArray pcm;
  const qsizetype wanted = 44100 * 4 * 3;  // three seconds of 16-bit stereo
  QElapsedTimer timer;
  timer.start();
  while (pcm.size() < wanted && timer.elapsed() < 15000) {
    mpg123.waitForReadyRead(200);
    pcm += mpg123.readAllStandardOutput();
  }
  mpg123.kill();
  mpg123.waitForFinished(3000);
  ASSERT_GE(pcm.size(), wanted) << "mpg123 decoded too little";

  // Mono, skipping the first half second (fade-in).
  std::vector<float> mono;
  const auto *s = reinterpret_cast<const qint16 *>(pcm.constData());
  for (qsizetype i = 22050; i < wanted / 4; ++i) mono.push_back((s[2 * i] + s[2 * i + 1]) / 65536.0f);
  const double tone = tonePower(mono, tracks[0].frequency, 44100);
  for (double other : {tracks[1].frequency * 1.0, tracks[2].frequency * 1.0, 300.0, 660.0, 1500.0, 5000.0}) {
    EXPECT_GT(tone, 20 * tonePower(mono, other, 44100)) << "at " << other << " Hz";
  }
}

TEST(DemoStationStream, DropsAListenerThatStopsReadingAndKeepsServingOthers) {
  // 800 kB/s, so the stalled listener's unsent data passes the bound quickly.
  DemoStation station({QStringLiteral("--speed"), QStringLiteral("50"), QStringLiteral("--max-backlog"),
                       QStringLiteral("262144")});
  ASSERT_TRUE(station.started()) << qPrintable(station.errorText());

  // The stalled listener: a raw socket with a small receive buffer that never reads.
  const int stalled = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(stalled, 0);
  const int small = 4096;
  setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(station.streamPort());
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(stalled, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  const char request[] = "GET / HTTP/1.0\r\n\r\n";
  ASSERT_EQ(::send(stalled, request, sizeof request - 1, 0), ssize_t(sizeof request - 1));
  const auto stalledOpen = [&] {
    tcp_info info{};
    socklen_t len = sizeof info;
    getsockopt(stalled, IPPROTO_TCP, TCP_INFO, &info, &len);
    return info.tcpi_state == TCP_ESTABLISHED;
  };

  // A listener that keeps reading, through the event loop.
  QTcpSocket reader;
  qint64 received = 0;
  QObject::connect(&reader, &QTcpSocket::readyRead, [&] { received += reader.readAll().size(); });
  reader.connectToHost(QStringLiteral("127.0.0.1"), station.streamPort());
  ASSERT_TRUE(reader.waitForConnected(5000));
  reader.write("GET / HTTP/1.0\r\n\r\n");

  EXPECT_TRUE(kirasol::test::waitUntil([&] { return !stalledOpen(); }, std::chrono::seconds(30)))
      << "the stalled listener was never dropped";
  const qint64 atDrop = received;
  EXPECT_TRUE(kirasol::test::waitUntil([&] { return received > atDrop + 100000; }, std::chrono::seconds(10)));
  EXPECT_EQ(reader.state(), QAbstractSocket::ConnectedState);
  ::close(stalled);
}

TEST(DemoStationProcess, ExitsCleanlyOnTerminationSignals) {
  for (int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    QProcess station;
    station.start(kirasol::test::programPath(QStringLiteral("kirasol-demo-station")),
                  {QStringLiteral("--stream-port"), QStringLiteral("0"), QStringLiteral("--http-port"),
                   QStringLiteral("0")});
    ASSERT_TRUE(station.waitForStarted(5000));
    QByteArray out;
    while (!out.contains('\n') && station.waitForReadyRead(5000)) out += station.readAllStandardOutput();
    const auto m = QRegularExpression(QStringLiteral("^ready stream=(\\d+) http=(\\d+)\n$")).match(QString::fromUtf8(out));
    ASSERT_TRUE(m.hasMatch()) << out.constData();
    // A listener is connected while the signal arrives.
    Listener l(quint16(m.captured(1).toUInt()), "Icy-MetaData:1\r\n");
    ASSERT_FALSE(l.read(1000).isEmpty());
    ::kill(pid_t(station.processId()), sig);
    ASSERT_TRUE(station.waitForFinished(5000));
    EXPECT_EQ(station.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(station.exitCode(), 0);
  }
}

TEST(DemoStationProcess, RefusesBadOptionsWithAMessage) {
  struct Case {
    QStringList args;
    int exitCode;
    const char *message;
  };
  const std::vector<Case> cases = {
      {{QStringLiteral("--speed"), QStringLiteral("0")}, 2, "--speed"},
      {{QStringLiteral("--speed"), QStringLiteral("fast")}, 2, "--speed"},
      {{QStringLiteral("--metaint"), QStringLiteral("0")}, 2, "--metaint"},
      {{QStringLiteral("--stream-port"), QStringLiteral("70000")}, 2, "--stream-port"},
      {{QStringLiteral("--bind"), QStringLiteral("not-an-address")}, 2, "--bind"},
      {{QStringLiteral("--tracks"), QStringLiteral("/nonexistent/kirasol")}, 1, "/nonexistent/kirasol"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.message);
    QProcess station;
    station.start(kirasol::test::programPath(QStringLiteral("kirasol-demo-station")),
                  QStringList{QStringLiteral("--stream-port"), QStringLiteral("0"), QStringLiteral("--http-port"),
                              QStringLiteral("0")} + c.args);
    ASSERT_TRUE(station.waitForFinished(5000));
    EXPECT_EQ(station.exitCode(), c.exitCode);
    EXPECT_TRUE(station.readAllStandardError().contains(c.message));
    EXPECT_TRUE(station.readAllStandardOutput().isEmpty());
  }
}
