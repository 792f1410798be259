#include "player/recorder/relay_server.h"

#include "player/recorder/station_protocol.h"

#include <QHostAddress>

namespace kirasol::recorder {

RelayServer::RelayServer(RecorderState &state, quint16 port, QObject *parent)
    : QObject(parent), state_(state), port_(port) {
  sckSender.setMaxPendingConnections(1);
  connect(&sckSender, &QTcpServer::newConnection, this, &RelayServer::sckSender_ConnectionRequest);
  requestTimer_.setSingleShot(true);
  requestTimer_.setInterval(kRequestTimeout);
  connect(&requestTimer_, &QTimer::timeout, this, &RelayServer::sckSender_Close);
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
  requested_ = false;
  headersSent_ = false;
  requestTimer_.stop();
  pendingBlock_.clear();
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
  requested_ = false;
  headersSent_ = false;
  requestTimer_.start();
  connect(socket, &QTcpSocket::readyRead, this, &RelayServer::sckSender_DataArrival);
  connect(socket, &QTcpSocket::disconnected, this, &RelayServer::sckSender_Close);
  connect(socket, &QTcpSocket::errorOccurred, this, &RelayServer::sckSender_Close);
  if (socket->bytesAvailable() > 0) sckSender_DataArrival();
}

void RelayServer::sckSender_DataArrival() {
  if (!player_) return;
  // The request is never parsed; reading it keeps it from piling up, and a
  // player that already has its headers gets no second block mid-stream.
  if (player_->readAll().isEmpty()) return;
  requested_ = true;
  requestTimer_.stop();
  answer();
}

void RelayServer::stationReady() { answer(); }

void RelayServer::answer() {
  if (!player_ || !requested_ || headersSent_ || !state_.bIcyOK) return;
  headersSent_ = true;
  metaInt_ = metaIntFrom(state_.sIcyHeaders);
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

void RelayServer::startCheck() {
  if (!state_.bPlayerWaiting || state_.bInMetadata || state_.lAudioCount != 0) return;
  state_.bPlayerWaiting = false;
  state_.bRelaying = true;
  runCount_ = 0;
  pendingBlock_.clear();
}

void RelayServer::relayAudio(QByteArrayView audio) {
  if (!state_.bRelaying) return;
  if (metaInt_ <= 0) {
    send(audio);
    return;
  }
  QByteArray out;
  out.reserve(audio.size() + 1);
  while (!audio.isEmpty()) {
    // A block is due once a whole run has gone out, and goes out before the
    // next audio byte: a station block arriving right at that point is the
    // one it carries.
    if (runCount_ == metaInt_) appendBlock(out);
    const qsizetype n = qMin<qsizetype>(metaInt_ - runCount_, audio.size());
    out.append(audio.first(n));
    runCount_ += std::int32_t(n);
    audio = audio.sliced(n);
  }
  send(out);
}

void RelayServer::relayBlock(QByteArrayView metadata) {
  if (!state_.bRelaying || metaInt_ <= 0) return;
  pendingBlock_ = metadata.toByteArray();
  if (runCount_ != metaInt_) return;
  QByteArray out;
  appendBlock(out);
  send(out);
}

void RelayServer::appendBlock(QByteArray &out) {
  runCount_ = 0;
  out.append(char(pendingBlock_.size() / 16));
  out.append(pendingBlock_);
  pendingBlock_.clear();
}

}  // namespace kirasol::recorder
