#include "player/recorder/relay_server.h"

#include "player/recorder/station_protocol.h"

#include <QHostAddress>
#include <QTimer>

namespace kirasol::recorder {

namespace {

constexpr QByteArrayView kBlankLine("\r\n\r\n");

// The request's header lines (the request line skipped), without CR LF.
QList<QByteArray> headerLines(const QByteArray &request) {
  QList<QByteArray> lines = request.left(request.indexOf(kBlankLine)).split('\n');
  if (!lines.isEmpty()) lines.removeFirst();
  for (QByteArray &line : lines) line = line.trimmed();
  return lines;
}

// "Icy-MetaData: 1" in any letter case and spacing; any positive number
// asks, as clients write it.
bool asksForMetadata(const QByteArray &request) {
  constexpr QByteArrayView key("icy-metadata:");
  for (const QByteArray &line : headerLines(request)) {
    if (line.size() < key.size() || QByteArrayView(line).first(key.size()).compare(key, Qt::CaseInsensitive) != 0)
      continue;
    bool ok = false;
    const int value = line.mid(key.size()).trimmed().toInt(&ok);
    return ok && value > 0;
  }
  return false;
}

// The station's headers without their icy-metaint line(s).
QByteArray withoutMetaInt(const QByteArray &headers) {
  constexpr QByteArrayView key("icy-metaint:");
  QByteArray out;
  out.reserve(headers.size());
  qsizetype at = 0;
  while (at < headers.size()) {
    qsizetype end = headers.indexOf('\n', at);
    end = end < 0 ? headers.size() : end + 1;
    const QByteArrayView line = QByteArrayView(headers).sliced(at, end - at);
    if (line.size() < key.size() || line.first(key.size()).compare(key, Qt::CaseInsensitive) != 0) out.append(line);
    at = end;
  }
  return out;
}

QByteArray refusalResponse(const QString &why) {
  const QByteArray body = "No station connection: " + why.toUtf8() + "\r\n";
  return "HTTP/1.0 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
         QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace

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
  request_.clear();
  wantsMetadata_ = false;
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
  request_.clear();
  wantsMetadata_ = false;
  headersSent_ = false;
  requestTimer_.start();
  connect(socket, &QTcpSocket::readyRead, this, &RelayServer::sckSender_DataArrival);
  connect(socket, &QTcpSocket::disconnected, this, &RelayServer::sckSender_Close);
  connect(socket, &QTcpSocket::errorOccurred, this, &RelayServer::sckSender_Close);
  if (socket->bytesAvailable() > 0) sckSender_DataArrival();
}

void RelayServer::sckSender_DataArrival() {
  if (!player_) return;
  // Whatever comes after the request is read and dropped, so it cannot pile
  // up, and a player that already has its headers gets no second block.
  const QByteArray bytes = player_->readAll();
  if (requested_ || bytes.isEmpty()) return;
  request_.append(bytes);
  if (!request_.contains(kBlankLine) && request_.size() < kMaxRequestBytes) return;
  requested_ = true;
  wantsMetadata_ = asksForMetadata(request_);
  request_.clear();
  requestTimer_.stop();
  answer();
}

void RelayServer::stationReady() {
  stationProblem_.clear();
  answer();
}

void RelayServer::stationLost(const QString &why) {
  stationProblem_ = why.isEmpty() ? QStringLiteral("the station cannot be reached") : why;
  answer();
}

void RelayServer::stationPending() { stationProblem_.clear(); }

void RelayServer::answer() {
  if (!player_ || !requested_ || headersSent_) return;
  if (!stationProblem_.isEmpty() && !state_.bIcyOK) {
    refusePlayer();
    return;
  }
  if (!state_.bIcyOK) return;
  headersSent_ = true;
  metaInt_ = wantsMetadata_ ? metaIntFrom(state_.sIcyHeaders) : 0;
  send(wantsMetadata_ ? state_.sIcyHeaders : withoutMetaInt(state_.sIcyHeaders));
  if (player_) state_.bPlayerWaiting = true;
}

// The refusal goes out whole before the connection closes; the listener
// opens again at once for the next player.
void RelayServer::refusePlayer() {
  QTcpSocket *socket = player_;
  player_ = nullptr;
  requested_ = false;
  headersSent_ = false;
  requestTimer_.stop();
  socket->disconnect(this);
  connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
  // A player that never reads its answer is not waited for.
  QTimer::singleShot(kRequestTimeout, socket, [socket] {
    socket->abort();
    socket->deleteLater();
  });
  socket->write(refusalResponse(stationProblem_));
  socket->disconnectFromHost();
  if (socket->state() == QAbstractSocket::UnconnectedState) socket->deleteLater();
  StartServer();
  if (isListening()) {
    setStatus(QStringLiteral("Winamp refused: no station. Waiting at '%1:%2'...")
                  .arg(QHostAddress(QHostAddress::LocalHost).toString())
                  .arg(port_));
  }
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
  // Handed to the system now rather than on the next turn of the event
  // loop: one wake-up less per piece. write() or flush() may report a reset
  // connection at once, which drops the player.
  if (player_) player_->flush();
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
