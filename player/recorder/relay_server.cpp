#include "player/recorder/relay_server.h"

#include <QHostAddress>

namespace kirasol::recorder {

RelayServer::RelayServer(RecorderState &state, quint16 port, QObject *parent)
    : QObject(parent), state_(state), port_(port) {
  sckSender.setMaxPendingConnections(1);
  connect(&sckSender, &QTcpServer::newConnection, this, &RelayServer::sckSender_ConnectionRequest);
}

RelayServer::~RelayServer() { DownServer(); }

void RelayServer::setStatus(const QString &text) {
  status_ = text;
  emit statusChanged(text);
}

void RelayServer::StartServer() {
  DownServer();
  // Loopback only: the relay is for a player on this machine.
  if (sckSender.listen(QHostAddress::LocalHost, port_)) {
    setStatus(QStringLiteral("Waiting for Winamp player open url '%1:%2'...")
                  .arg(QHostAddress(QHostAddress::LocalHost).toString())
                  .arg(port_));
  } else {
    setStatus(QStringLiteral("Relay off: port %1 cannot be used (%2)").arg(port_).arg(sckSender.errorString()));
  }
}

void RelayServer::DownServer() {
  sckSender.close();
  dropPlayer();
  state_.bPlayerWaiting = false;
  state_.bRelaying = false;
}

void RelayServer::dropPlayer() {
  if (!player_) return;
  QTcpSocket *socket = player_;
  player_ = nullptr;
  headersSent_ = false;
  socket->disconnect(this);
  socket->abort();
  socket->deleteLater();
}

void RelayServer::sckSender_ConnectionRequest() {
  QTcpSocket *socket = sckSender.nextPendingConnection();
  if (!socket) return;
  if (player_) {  // only one player; cannot normally happen as the listener closes
    socket->abort();
    socket->deleteLater();
    return;
  }
  setStatus(QStringLiteral("Winamp Connected"));
  sckSender.close();
  player_ = socket;
  headersSent_ = false;
  connect(socket, &QTcpSocket::readyRead, this, &RelayServer::sckSender_DataArrival);
  connect(socket, &QTcpSocket::disconnected, this, &RelayServer::sckSender_Close);
  connect(socket, &QTcpSocket::errorOccurred, this, &RelayServer::sckSender_Close);
  if (socket->bytesAvailable() > 0) sckSender_DataArrival();
}

void RelayServer::sckSender_DataArrival() {
  if (!player_) return;
  // The request is never parsed; reading it keeps it from piling up, and a
  // player that already has its headers gets no second block mid-stream.
  player_->readAll();
  if (!state_.bIcyOK || headersSent_) return;
  headersSent_ = true;
  send(state_.sIcyHeaders);
  if (player_) state_.bPlayerWaiting = true;
}

void RelayServer::sckSender_Close() {
  if (!player_) return;
  dropPlayer();
  state_.bRelaying = false;
  state_.bPlayerWaiting = false;
  setStatus(QStringLiteral("Winamp Disconnected"));
  StartServer();
}

void RelayServer::send(QByteArrayView bytes) {
  if (!player_ || bytes.isEmpty()) return;
  player_->write(bytes.data(), bytes.size());
  // write() may report a reset connection at once, which drops the player.
  if (player_ && player_->bytesToWrite() > kMaxUnsentBytes) sckSender_Close();
}

void RelayServer::startCheck(QByteArrayView rest) {
  if (!state_.bPlayerWaiting || state_.bInMetadata || state_.lAudioCount != 0) return;
  state_.bPlayerWaiting = false;
  state_.bRelaying = true;
  send(rest);
}

void RelayServer::forward(QByteArrayView chunk) {
  if (state_.bRelaying) send(chunk);
}

}  // namespace kirasol::recorder
