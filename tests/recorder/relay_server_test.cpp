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
  // Bytes that reach the player within a short while.
  static QByteArray receive(QTcpSocket &player, qsizetype expected) {
    QByteArray got;
    waitUntil([&] {
      got += player.readAll();
      return got.size() >= expected;
    }, 3s);
    return got;
  }
  void accepted() {  // the station's headers are in
    state.bIcyOK = true;
    state.sIcyHeaders = kHeaders;
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

  // Before the station's headers are accepted a request gets no answer.
  player->write("GET / HTTP/1.0\r\n\r\n");
  waitUntil([] { return false; }, 200ms);
  EXPECT_EQ(player->bytesAvailable(), 0);
  EXPECT_FALSE(f.state.bPlayerWaiting);

  f.accepted();
  player->write("GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(RelayFixture::receive(*player, kHeaders.size()), kHeaders);
  EXPECT_TRUE(f.state.bPlayerWaiting);

  // Mid-run (and inside a metadata block) the start check waits.
  f.state.lAudioCount = 2;
  f.relay.startCheck("cd");
  f.state.lAudioCount = 0;
  f.state.bInMetadata = true;
  f.relay.startCheck("\x01StreamTitle='x'");
  f.relay.forward("ignored while not relaying");
  EXPECT_FALSE(f.state.bRelaying);

  f.state.bInMetadata = false;
  f.relay.startCheck("abcd");
  EXPECT_TRUE(f.state.bRelaying);
  EXPECT_FALSE(f.state.bPlayerWaiting);
  f.relay.forward(QByteArray(1, '\0') + "efgh");

  // More request bytes from a player that has its headers change nothing.
  player->write("GET / HTTP/1.0\r\n\r\n");
  waitUntil([] { return false; }, 100ms);
  f.relay.forward("ijkl");
  EXPECT_EQ(RelayFixture::receive(*player, 13), QByteArray("abcd") + QByteArray(1, '\0') + "efghijkl");
  EXPECT_TRUE(f.state.bRelaying);
}

TEST(RelayServer, PlayerLeavingBeforeTheRunStartLeavesNothingPending) {
  RelayFixture f;
  f.accepted();
  f.relay.StartServer();
  {
    auto player = f.connectPlayer();
    player->write("GET / HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(waitUntil([&] { return f.state.bPlayerWaiting; }, 3s));
    player->abort();
    ASSERT_TRUE(waitUntil([&] { return f.relay.isListening(); }, 3s));
  }
  EXPECT_FALSE(f.state.bPlayerWaiting);
  EXPECT_FALSE(f.state.bRelaying);

  auto next = f.connectPlayer();
  next->write("GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(RelayFixture::receive(*next, kHeaders.size()), kHeaders);
  f.relay.startCheck("wxyz");
  EXPECT_EQ(RelayFixture::receive(*next, 4), QByteArray("wxyz"));
}

TEST(RelayServer, StalledPlayerIsDropped) {
  RelayFixture f;
  f.accepted();
  f.relay.StartServer();
  auto player = f.connectPlayer();
  player->setReadBufferSize(1);  // reads one byte, then leaves the rest in the kernel
  player->write("GET / HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(waitUntil([&] { return f.state.bPlayerWaiting; }, 3s));
  f.relay.startCheck({});
  ASSERT_TRUE(f.state.bRelaying);

  const QByteArray chunk(64 * 1024, 'a');
  qint64 sent = 0;
  while (f.relay.hasPlayer() && sent < 512LL * 1024 * 1024) {
    f.relay.forward(chunk);
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
    player->write("GET / HTTP/1.0\r\n\r\n");
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
