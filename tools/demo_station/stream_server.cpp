#include "stream_server.h"

#include "http_request.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cmath>
#include <sys/socket.h>

namespace kirasol::station {

namespace {

constexpr int kPaceIntervalMs = 20;
constexpr int kRequestTimeoutMs = 10000;
// In --fast mode the station keeps this much queued and refills as the client reads.
constexpr qint64 kFastQueue = 256 * 1024;
constexpr qint64 kFastChunk = 64 * 1024;

bool wantsMetadata(const HttpRequest &request) {
  return request.header("Icy-MetaData").trimmed() == "1";
}

// One listener's connection: reads its request, then streams to it.
class StreamClient : public QObject {
 public:
  StreamClient(QTcpSocket *socket, const StreamSettings &settings, TrackList tracks, StreamServer *server,
               std::function<void()> onDropped)
      : QObject(server), socket_(socket), settings_(settings), tracks_(std::move(tracks)),
        onDropped_(std::move(onDropped)) {
    socket_->setParent(this);
    connect(socket_, &QTcpSocket::readyRead, this, &StreamClient::onReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    connect(socket_, &QTcpSocket::errorOccurred, this, [this] { socket_->abort(); deleteLater(); });
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] {
      if (settings_.fast) pump();
    });
    connect(&pace_, &QTimer::timeout, this, &StreamClient::pump);
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] { socket_->abort(); });
    deadline_.start(kRequestTimeoutMs);
  }

 private:
  void onReadyRead() {
    const QByteArray bytes = socket_->readAll();
    if (framer_) return;  // a streaming client's further bytes are ignored
    switch (parser_.feed(bytes)) {
      case HttpRequestParser::State::Incomplete:
        return;
      case HttpRequestParser::State::Complete:
        break;
      case HttpRequestParser::State::BadRequest:
      case HttpRequestParser::State::TooLarge:
        refuse("400 Bad Request");
        return;
    }
    const HttpRequest &request = parser_.request();
    if (request.method != "GET") {
      refuse("405 Method Not Allowed");
      return;
    }
    deadline_.stop();
    const bool meta = wantsMetadata(request);
    socket_->write(streamResponseHead(settings_, meta));
    framer_.emplace(tracks_, meta ? settings_.metaInt : 0, settings_.repeatTitle, !settings_.once);
    clock_.start();
    if (!settings_.fast) {
      byteRate_ = settings_.bitRateKbps * 1000.0 / 8.0 * settings_.speed;
      pace_.start(kPaceIntervalMs);
    }
    pump();
  }

  void refuse(const QByteArray &status) {
    deadline_.stop();
    socket_->write("HTTP/1.0 " + status + "\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n" + status +
                   "\n");
    socket_->disconnectFromHost();
  }

  void pump() {
    if (!framer_ || closing_) return;
    QByteArray out;
    if (settings_.fast) {
      while (socket_->bytesToWrite() + out.size() < kFastQueue && !framer_->finished())
        framer_->produce(kFastChunk, out);
    } else {
      const auto due = settings_.burst + static_cast<qint64>(std::floor(byteRate_ * clock_.elapsed() / 1000.0));
      if (due > sentAudio_) sentAudio_ += framer_->produce(due - sentAudio_, out);
    }
    if (!out.isEmpty()) socket_->write(out);
    if (socket_->bytesToWrite() > settings_.maxBacklog) {
      // A listener that stopped reading would otherwise make us queue the
      // stream in memory forever.
      closing_ = true;
      pace_.stop();
      onDropped_();
      // Reset rather than close: a plain close would leave the unsent bytes
      // in the kernel, waiting for a reader that never comes.
      const linger reset{1, 0};
      setsockopt(int(socket_->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
      socket_->abort();
      return;
    }
    if (framer_->finished()) {
      closing_ = true;
      pace_.stop();
      socket_->disconnectFromHost();  // after the queued bytes are written
    }
  }

  QTcpSocket *socket_;
  StreamSettings settings_;
  TrackList tracks_;
  std::function<void()> onDropped_;
  HttpRequestParser parser_;
  std::optional<IcyStreamFramer> framer_;
  QTimer pace_;
  QTimer deadline_;
  QElapsedTimer clock_;
  double byteRate_ = 0;
  qint64 sentAudio_ = 0;
  bool closing_ = false;
};

}  // namespace

QByteArray streamResponseHead(const StreamSettings &s, bool withMetadata) {
  QByteArray head = s.http10 ? "HTTP/1.0 200 OK\r\n" : "ICY 200 OK\r\n";
  head += "icy-notice1:<BR>This is the Kirasol demo station<BR>\r\n";
  head += "icy-notice2:Kirasol demo stream server<BR>\r\n";
  if (s.icyName) head += "icy-name:" + s.stationName.toUtf8() + "\r\n";
  head += "icy-genre:" + s.genre.toUtf8() + "\r\n";
  head += "icy-url:" + s.url.toUtf8() + "\r\n";
  head += "content-type:audio/mpeg\r\n";
  head += "icy-pub:0\r\n";
  head += "icy-br:" + QByteArray::number(s.bitRateKbps) + "\r\n";
  if (withMetadata && s.metaInt > 0) head += "icy-metaint:" + QByteArray::number(s.metaInt) + "\r\n";
  head += "\r\n";
  return head;
}

StreamServer::StreamServer(StreamSettings settings, TrackList tracks, QObject *parent)
    : QObject(parent), settings_(std::move(settings)), tracks_(std::move(tracks)), server_(new QTcpServer(this)) {
  connect(server_, &QTcpServer::pendingConnectionAvailable, this, &StreamServer::accept);
}

StreamServer::~StreamServer() = default;

bool StreamServer::listen(const QHostAddress &address, quint16 port) { return server_->listen(address, port); }
quint16 StreamServer::port() const { return server_->serverPort(); }
QString StreamServer::errorString() const { return server_->errorString(); }

void StreamServer::accept() {
  while (QTcpSocket *socket = server_->nextPendingConnection()) {
    auto *client = new StreamClient(socket, settings_, tracks_, this, [this] { emit clientDropped(); });
    ++clients_;
    connect(client, &QObject::destroyed, this, [this] { --clients_; });
  }
}

}  // namespace kirasol::station
