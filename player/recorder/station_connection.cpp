#include "player/recorder/station_connection.h"

#include <QTcpSocket>
#include <algorithm>
#include <array>

#include <sys/socket.h>

namespace kirasol::recorder {

std::chrono::seconds ReconnectBackoff::next() {
  static constexpr std::array<int, 6> kPauses{1, 2, 4, 8, 15, 30};
  const int pause = kPauses[std::size_t(std::min<int>(attempt_, int(kPauses.size()) - 1))];
  if (attempt_ < int(kPauses.size())) ++attempt_;
  return std::chrono::seconds(pause);
}

StationConnection::StationConnection(QObject *parent) : QObject(parent) {
  stallTimer_.setSingleShot(true);
  stallTimer_.setInterval(kStallTime);
  retryTimer_.setSingleShot(true);
  gatherTimer_.setSingleShot(true);
  connect(&gatherTimer_, &QTimer::timeout, this, &StationConnection::deliver);
  connect(&stallTimer_, &QTimer::timeout, this, &StationConnection::lost);
  connect(&retryTimer_, &QTimer::timeout, this, [this] {
    emit reconnecting();
    connectSocket();
  });
}

StationConnection::~StationConnection() { dropSocket(); }

void StationConnection::open(const QString &host, quint16 port) {
  close();
  host_ = host;
  port_ = port;
  connectSocket();
}

void StationConnection::close() {
  recovering_ = false;
  retryTimer_.stop();
  dropSocket();
  backoff_.reset();
}

void StationConnection::streamAccepted(std::int32_t kbitPerSecond) {
  recovering_ = true;
  backoff_.reset();
  if (!socket_) return;
  stallTimer_.start();
  // kbit/s × ms / 8 = bytes in the pause.
  const qint64 pause = qint64(kbitPerSecond) * kGatherTime.count() / 8;
  if (pause <= 1) return;
  // SO_RCVLOWAT: poll reports the socket readable only once this much is
  // waiting (or the peer closed or failed), so the gathering pause needs no
  // second wake-up. Without it the gather timer does the same, at two.
  const int mark = int(std::min(pause, kMaxLowWater));
  if (::setsockopt(int(socket_->socketDescriptor()), SOL_SOCKET, SO_RCVLOWAT, &mark, sizeof mark) != 0) return;
  lowWater_ = mark;
  gatherTimer_.start(kLowWaterBackstop);
}

bool StationConnection::refuse() {
  if (!recovering_) {
    close();
    return false;
  }
  lost();
  return true;
}

void StationConnection::send(const QByteArray &bytes) {
  if (socket_) socket_->write(bytes);
}

QString StationConnection::peerAddress() const { return socket_ ? socket_->peerAddress().toString() : QString(); }

void StationConnection::connectSocket() {
  dropSocket();
  auto *socket = new QTcpSocket(this);
  socket_ = socket;
  connect(socket, &QTcpSocket::connected, this, &StationConnection::connected);
  connect(socket, &QTcpSocket::readyRead, this, &StationConnection::onReadyRead);
  connect(socket, &QTcpSocket::disconnected, this, &StationConnection::onDisconnected);
  connect(socket, &QTcpSocket::errorOccurred, this, &StationConnection::onError);
  // A reconnect attempt that hangs (a host that swallows the connect, or a
  // server that never answers) counts as failed after the stall time.
  if (recovering_) stallTimer_.start();
  socket->connectToHost(host_, port_, QIODevice::ReadWrite | QIODevice::Unbuffered);
}

void StationConnection::dropSocket() {
  stallTimer_.stop();
  gatherTimer_.stop();
  lowWater_ = 0;
  if (!socket_) return;
  QTcpSocket *socket = socket_;
  socket_ = nullptr;
  socket->disconnect(this);
  socket->abort();
  socket->deleteLater();
}

void StationConnection::onReadyRead() {
  if (!socket_) return;
  if (recovering_) stallTimer_.start();
  // An unbuffered socket reports no more until it is read; a large backlog,
  // or a pause's worth held back by the system, goes at once.
  const qint64 waiting = socket_->bytesAvailable();
  if (waiting >= kReadChunk || (lowWater_ > 0 && waiting >= lowWater_)) {
    deliver();
  } else if (!gatherTimer_.isActive()) {
    gatherTimer_.start(kGatherTime);
  }
}

void StationConnection::deliver() {
  gatherTimer_.stop();
  if (!socket_) return;
  QByteArray bytes(kReadChunk, Qt::Uninitialized);
  qint64 got = 0;
  while (got < kReadChunk) {
    const qint64 n = socket_->read(bytes.data() + got, kReadChunk - got);
    if (n <= 0) break;
    got += n;
  }
  bytes.truncate(got);
  if (got > 0 && recovering_) stallTimer_.start();
  // A station slower than its bit rate says reaches the mark late; what it
  // sent still goes on within the backstop.
  if (lowWater_ > 0) gatherTimer_.start(kLowWaterBackstop);
  // An unbuffered socket learns of the peer's close by reading: it says so
  // only through its state, not by a signal.
  const bool gone = socket_->state() == QAbstractSocket::UnconnectedState;
  const bool failed = gone && socket_->error() != QAbstractSocket::RemoteHostClosedError;
  if (!bytes.isEmpty()) emit dataArrived(bytes);
  if (gone && socket_) ended(failed);
}

void StationConnection::ended(bool failed) {
  if (recovering_) {
    lost();
    return;
  }
  dropSocket();
  if (failed) {
    emit this->failed();
  } else {
    emit closed();
  }
}

void StationConnection::onDisconnected() {
  // The station's last bytes come before the close.
  deliver();
  if (socket_) ended(false);
}

void StationConnection::onError() {
  deliver();
  if (!socket_) return;
  // A peer's orderly close also arrives as an error; the disconnect that
  // follows reports it.
  if (!recovering_ && socket_->error() == QAbstractSocket::RemoteHostClosedError) return;
  ended(true);
}

void StationConnection::lost() {
  dropSocket();
  if (recovering_) scheduleRetry();
}

void StationConnection::scheduleRetry() {
  const std::chrono::seconds wait = backoff_.next();
  retryTimer_.start(wait);
  emit reconnectScheduled(wait);
}

}  // namespace kirasol::recorder
