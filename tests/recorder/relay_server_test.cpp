#include "player/recorder/relay_server.h"
#include "recorder/print_qt.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;

namespace kirasol::recorder {
namespace {

using test::waitUntil;

const QByteArray kHeaders = "ICY 200 OK\r\nicy-name:Relay FM\r\nicy-metaint:4\r\n\r\n";
// A player's request that asks for metadata, as Winamp's does.
const QByteArray kRequest = "GET / HTTP/1.0\r\nIcy-MetaData:1\r\n\r\n";

struct RelayFixture {
  RecorderState state;
  quint16 port = test::freePort();
  RelayServer relay{state, port};
  QStringList statuses;
  RelayFixture() {
    QObject::connect(&relay, &RelayServer::statusChanged, [this](const QString &s) { statuses << s; });
  }
  QString listening() const {
    return QStringLiteral("Waiting for Winamp player open url '127.0.0.1:%1'...").arg(port);
  }
  std::unique_ptr<QTcpSocket> connectPlayer() {
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, port);
    const bool settled = waitUntil([&] {
      return socket->state() == QAbstractSocket::ConnectedState || socket->state() == QAbstractSocket::UnconnectedState;
    }, 5s);
    EXPECT_TRUE(settled);
    return socket;
  }
  // A player that has sent its request and waits for a run start.
  std::unique_ptr<QTcpSocket> waitingPlayer() {
    auto socket = connectPlayer();
    socket->write(kRequest);
    EXPECT_TRUE(waitUntil([&] { return state.bPlayerWaiting; }, 3s));
    return socket;
  }
  // Bytes that reach the player within a short while.
  static QByteArray receive(QTcpSocket &player, qsizetype expected) {
    QByteArray got;
    waitUntil([&] {
      got += player.readAll();
      return got.size() >= expected;
    }, 3s);
    return got;
  }
  void accepted(const QByteArray &headers = kHeaders) {  // the station's headers are in
    state.bIcyOK = true;
    state.sIcyHeaders = headers;
  }
};

bool refused(QTcpSocket &socket) {
  // A refused connect may also show as an accept that is reset at once.
  waitUntil([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 2s);
  return socket.state() == QAbstractSocket::UnconnectedState;
}

TEST(RelayServer, ListensOnlyAfterStartAndServesOnePlayer) {
  RelayFixture f;
  auto early = f.connectPlayer();
  EXPECT_TRUE(refused(*early)) << "nothing listens before the first tune";

  f.relay.StartServer();
  EXPECT_EQ(f.relay.statusText(), f.listening());
  auto first = f.connectPlayer();
  ASSERT_EQ(first->state(), QAbstractSocket::ConnectedState);
  ASSERT_TRUE(waitUntil([&] { return f.relay.hasPlayer(); }, 3s));
  EXPECT_EQ(f.relay.statusText(), QStringLiteral("Winamp Connected"));
  EXPECT_FALSE(f.relay.isListening());

  auto second = f.connectPlayer();
  EXPECT_TRUE(refused(*second)) << "a second player is refused while one is served";

  first->disconnectFromHost();
  ASSERT_TRUE(waitUntil([&] { return f.relay.isListening(); }, 3s));
  EXPECT_EQ(f.statuses, (QStringList{f.listening(), QStringLiteral("Winamp Connected"),
                                     QStringLiteral("Winamp Disconnected"), f.listening()}));
}

TEST(RelayServer, HeadersOnRequestThenStreamFromARunStart) {
  RelayFixture f;
  f.relay.StartServer();
  auto player = f.connectPlayer();
  ASSERT_TRUE(waitUntil([&] { return f.relay.hasPlayer(); }, 3s));

  // A request that comes before the station's headers is answered once they are in.
  player->write(kRequest);
  waitUntil([] { return false; }, 200ms);
  EXPECT_EQ(player->bytesAvailable(), 0);
  EXPECT_FALSE(f.state.bPlayerWaiting);
  f.accepted();
  f.relay.stationReady();
  EXPECT_EQ(RelayFixture::receive(*player, kHeaders.size()), kHeaders);
  EXPECT_TRUE(f.state.bPlayerWaiting);

  // Mid-run (and inside a metadata block) the start check waits.
  f.state.lAudioCount = 2;
  f.relay.startCheck();
  f.state.lAudioCount = 0;
  f.state.bInMetadata = true;
  f.relay.startCheck();
  f.relay.relayAudio("ignored while not relaying");
  EXPECT_FALSE(f.state.bRelaying);

  f.state.bInMetadata = false;
  f.relay.startCheck();
  EXPECT_TRUE(f.state.bRelaying);
  EXPECT_FALSE(f.state.bPlayerWaiting);
  f.relay.relayAudio("abcd");
  f.relay.relayAudio("efgh");

  // More request bytes from a player that has its headers change nothing.
  player->write(kRequest);
  waitUntil([] { return false; }, 100ms);
  f.relay.relayBlock("StreamTitle='x';");
  f.relay.relayAudio("ijkl");
  const QByteArray expected = QByteArray("abcd") + QByteArray(1, '\0') + "efgh\x01StreamTitle='x';ijkl";
  EXPECT_EQ(RelayFixture::receive(*player, expected.size()), expected);
  EXPECT_TRUE(f.state.bRelaying);
}

// The player's blocks fall every icy-metaint bytes of the headers it was
// sent, however the station's runs lie (a reconnect starts the station's
// count afresh mid-run), carrying the station's latest block.
TEST(RelayServer, KeepsThePlayersFramingWhateverTheStationDoes) {
  const QByteArray x = "StreamTitle='x';", y = "StreamTitle='y';";
  const struct {
    const char *name;
    std::vector<std::pair<char, QByteArray>> steps;  // 'a' audio, 'b' station block
    QByteArray expected;
  } cases[] = {
      {"aligned", {{'a', "ab"}, {'a', "cd"}, {'b', x}, {'a', "efgh"}, {'a', "ij"}},
       "abcd\x01" + x + "efgh" + QByteArray(1, '\0') + "ij"},
      {"block mid-run waits for the run's end", {{'a', "ab"}, {'b', x}, {'a', "cdef"}},
       "abcd\x01" + x + "ef"},
      {"the latest of two blocks wins", {{'a', "a"}, {'b', x}, {'b', y}, {'a', "bcdefghij"}},
       "abcd\x01" + y + "efgh" + QByteArray(1, '\0') + "ij"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    RelayFixture f;
    f.accepted();
    f.relay.StartServer();
    auto player = f.waitingPlayer();
    f.relay.startCheck();
    for (const auto &[kind, bytes] : c.steps) kind == 'a' ? f.relay.relayAudio(bytes) : f.relay.relayBlock(bytes);
    EXPECT_EQ(RelayFixture::receive(*player, kHeaders.size() + c.expected.size()), kHeaders + c.expected);
  }
}

// A connection that never sends its request frees the one slot after a few
// seconds; a player that has sent it is served however long the station takes.
TEST(RelayServer, SilentConnectionIsDropped) {
  RelayFixture f;
  f.relay.StartServer();
  auto waiting = f.connectPlayer();
  waiting->write(kRequest);
  ASSERT_TRUE(waitUntil([&] { return f.relay.hasPlayer(); }, 3s));
  waitUntil([] { return false; }, RelayServer::kRequestTimeout + 1s);
  EXPECT_TRUE(f.relay.hasPlayer()) << "a player with its request in waits for the station";
  waiting->disconnectFromHost();
  ASSERT_TRUE(waitUntil([&] { return f.relay.isListening(); }, 3s));

  auto silent = f.connectPlayer();
  ASSERT_TRUE(waitUntil([&] { return f.relay.hasPlayer(); }, 3s));
  EXPECT_FALSE(waitUntil([&] { return !f.relay.hasPlayer(); }, RelayServer::kRequestTimeout - 1s));
  ASSERT_TRUE(waitUntil([&] { return !f.relay.hasPlayer() && f.relay.isListening(); }, 3s));
  EXPECT_TRUE(waitUntil([&] { return silent->state() == QAbstractSocket::UnconnectedState; }, 3s));
  EXPECT_EQ(f.statuses.mid(f.statuses.size() - 2), (QStringList{QStringLiteral("Winamp Disconnected"), f.listening()}));

  f.accepted();
  auto next = f.connectPlayer();
  next->write(kRequest);
  EXPECT_EQ(RelayFixture::receive(*next, kHeaders.size()), kHeaders);
}

TEST(RelayServer, PlayerLeavingBeforeTheRunStartLeavesNothingPending) {
  RelayFixture f;
  f.accepted();
  f.relay.StartServer();
  {
    auto player = f.waitingPlayer();
    player->abort();
    ASSERT_TRUE(waitUntil([&] { return f.relay.isListening(); }, 3s));
  }
  EXPECT_FALSE(f.state.bPlayerWaiting);
  EXPECT_FALSE(f.state.bRelaying);

  auto next = f.connectPlayer();
  next->write(kRequest);
  EXPECT_EQ(RelayFixture::receive(*next, kHeaders.size()), kHeaders);
  f.relay.startCheck();
  f.relay.relayAudio("wxyz");
  EXPECT_EQ(RelayFixture::receive(*next, 4), QByteArray("wxyz"));
}

TEST(RelayServer, StalledPlayerIsDropped) {
  RelayFixture f;
  f.accepted("ICY 200 OK\r\n\r\n");
  f.relay.StartServer();
  auto player = f.connectPlayer();
  player->setReadBufferSize(1);  // reads one byte, then leaves the rest in the kernel
  player->write(kRequest);
  ASSERT_TRUE(waitUntil([&] { return f.state.bPlayerWaiting; }, 3s));
  f.relay.startCheck();
  ASSERT_TRUE(f.state.bRelaying);

  const QByteArray chunk(64 * 1024, 'a');
  qint64 sent = 0;
  while (f.relay.hasPlayer() && sent < 512LL * 1024 * 1024) {
    f.relay.relayAudio(chunk);
    sent += chunk.size();
    QCoreApplication::processEvents();
  }
  EXPECT_FALSE(f.relay.hasPlayer()) << "sent " << sent;
  EXPECT_TRUE(f.relay.isListening());
  EXPECT_FALSE(f.state.bRelaying);
  EXPECT_TRUE(f.statuses.contains(QStringLiteral("Winamp Disconnected")));
  EXPECT_EQ(f.relay.statusText(), f.listening());
}

qint64 residentKiB() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray &line : status.readAll().split('\n')) {
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLongLong();
  }
  return 0;
}

TEST(RelayServer, ManyPlayersComeAndGo) {
  RelayFixture f;
  f.accepted();
  f.relay.StartServer();
  auto cycle = [&] {
    auto player = f.connectPlayer();
    player->write(kRequest);
    const QByteArray got = RelayFixture::receive(*player, kHeaders.size());
    player->disconnectFromHost();
    const bool back = waitUntil([&] { return f.relay.isListening() && !f.relay.hasPlayer(); }, 3s);
    return got == kHeaders && back;
  };
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(cycle());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  const qint64 before = residentKiB();
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(cycle()) << "cycle " << i;
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(f.relay.findChildren<QTcpSocket *>().isEmpty()) << "player sockets are released";
#if !defined(__SANITIZE_ADDRESS__)
  // (AddressSanitizer holds freed memory in quarantine; there its leak check
  // stands in for this.)
  EXPECT_LT(residentKiB() - before, 4096) << "memory stays flat";
#else
  (void)before;
#endif
}

TEST(RelayServer, PortInUseIsReported) {
  QTcpServer other;
  ASSERT_TRUE(other.listen(QHostAddress::LocalHost, 0));
  RecorderState state;
  RelayServer relay(state, other.serverPort());
  relay.StartServer();
  EXPECT_FALSE(relay.isListening());
  EXPECT_TRUE(relay.statusText().contains(QString::number(other.serverPort()))) << relay.statusText().toStdString();
  EXPECT_TRUE(relay.statusText().startsWith(QStringLiteral("Relay off"))) << relay.statusText().toStdString();
}

}  // namespace
}  // namespace kirasol::recorder
