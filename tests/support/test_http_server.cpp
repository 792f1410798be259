#include "support/test_http_server.h"

#include "support/test_support.h"

#include <QFile>
#include <QProcess>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

namespace kirasol::test {

namespace {
QByteArray reasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}
}  // namespace

TestHttpServer::TestHttpServer() = default;
TestHttpServer::~TestHttpServer() = default;

bool TestHttpServer::listen() {
  server_ = std::make_unique<QTcpServer>();
  tls_ = false;
  QObject::connect(server_.get(), &QTcpServer::pendingConnectionAvailable, this, [this] { accept(); });
  if (!server_->listen(QHostAddress::LocalHost, 0)) return false;
  port_ = server_->serverPort();
  return true;
}

bool TestHttpServer::listenTls(const QSslConfiguration &configuration) {
  auto server = std::make_unique<QSslServer>();
  server->setSslConfiguration(configuration);
  server_ = std::move(server);
  tls_ = true;
  QObject::connect(server_.get(), &QTcpServer::pendingConnectionAvailable, this, [this] { accept(); });
  if (!server_->listen(QHostAddress::LocalHost, 0)) return false;
  port_ = server_->serverPort();
  return true;
}

QString TestHttpServer::url(const QString &path) const {
  return QStringLiteral("%1://127.0.0.1:%2%3").arg(tls_ ? u"https" : u"http").arg(port_).arg(path);
}

void TestHttpServer::setRoute(const QString &path, const HttpResponse &response) { routes_[path] = response; }

void TestHttpServer::serveFolder(const QString &prefix, const QString &folder) {
  folderPrefix_ = prefix;
  folder_ = folder;
}

void TestHttpServer::stopListening() {
  if (server_) server_->close();
}

void TestHttpServer::accept() {
  while (server_ && server_->hasPendingConnections()) {
    QTcpSocket *socket = server_->nextPendingConnection();
    socket->setParent(this);
    pending_[socket] = {};
    QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadable(socket); });
    QObject::connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
      pending_.remove(socket);
      socket->deleteLater();
    });
    if (socket->bytesAvailable() > 0) onReadable(socket);
  }
}

void TestHttpServer::onReadable(QTcpSocket *socket) {
  if (!pending_.contains(socket)) return;
  QByteArray &buffer = pending_[socket];
  buffer += socket->readAll();
  const qsizetype end = buffer.indexOf("\r\n\r\n");
  if (end < 0) return;
  const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
  const QString path = requestLine.size() >= 2 ? QString::fromUtf8(requestLine[1]) : QString();
  pending_.remove(socket);
  requested_.append(path);
  answer(socket, path);
}

void TestHttpServer::answer(QTcpSocket *socket, const QString &path) {
  HttpResponse response;
  if (routes_.contains(path)) {
    response = routes_.value(path);
  } else if (!folder_.isEmpty() && path.startsWith(folderPrefix_)) {
    QFile file(folder_ + u'/' + path.mid(folderPrefix_.size()));
    if (!path.contains(u"..") && file.open(QIODevice::ReadOnly)) {
      response.body = file.readAll();
    } else {
      response.status = 404;
      response.body = "not found";
    }
  } else {
    response.status = 404;
    response.body = "not found";
  }

  switch (response.mode) {
    case HttpResponse::Mode::Stall:
      return;
    case HttpResponse::Mode::StopListening:
      stopListening();
      [[fallthrough]];
    case HttpResponse::Mode::Drop:
      socket->abort();
      return;
    default:
      break;
  }
  using Mode = HttpResponse::Mode;
  const bool lengthGiven = response.mode != Mode::NoLength && response.mode != Mode::Endless;
  QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
  if (lengthGiven) head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
  head += "Connection: close\r\n";
  for (const auto &[name, value] : response.headers) head += name + ": " + value + "\r\n";
  head += "\r\n";
  if (response.delayMs > 0 && (response.mode == Mode::Normal || response.mode == Mode::CutShort)) {
    const bool cut = response.mode == Mode::CutShort;
    QTimer::singleShot(response.delayMs, socket,
                       [socket, bytes = head + (cut ? response.body.left(response.sentBytes) : response.body)] {
                         socket->write(bytes);
                         socket->disconnectFromHost();
                       });
    return;
  }
  socket->write(head);
  if (response.mode == Mode::Endless) {
    // Refilled only as the client reads, so the server's memory stays small.
    const QByteArray chunk = response.body.isEmpty() ? QByteArray(64 * 1024, 'x') : response.body;
    const auto refill = [socket, chunk] {
      while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < 4 * chunk.size())
        socket->write(chunk);
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, refill);
    refill();
    return;
  }
  if (response.mode == Mode::Trickle) {
    auto *timer = new QTimer(socket);
    auto sent = std::make_shared<qsizetype>(0);
    QObject::connect(timer, &QTimer::timeout, socket, [socket, timer, sent, body = response.body] {
      if (*sent >= body.size()) {
        timer->stop();
        socket->disconnectFromHost();
        return;
      }
      socket->write(body.mid((*sent)++, 1));
    });
    timer->start(response.intervalMs);
    return;
  }
  const bool cut = response.mode == Mode::CutShort || (response.mode == Mode::NoLength && response.sentBytes > 0);
  socket->write(cut ? response.body.left(response.sentBytes) : response.body);
  socket->disconnectFromHost();
}

bool makeSelfSignedCertificate(const QString &dir, QSslCertificate &certificate, QSslKey &key) {
  QProcess openssl;
  openssl.start(QStringLiteral("openssl"),
                {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                 dir + "/key.pem", "-out", dir + "/cert.pem", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                 "subjectAltName=IP:127.0.0.1"});
  if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) return false;
  const auto certs = QSslCertificate::fromData(readFile(dir + "/cert.pem"));
  if (certs.isEmpty()) return false;
  certificate = certs.first();
  key = QSslKey(readFile(dir + "/key.pem"), QSsl::Ec);
  return !key.isNull();
}

bool selfSignedServerConfiguration(const QString &dir, QSslConfiguration &configuration) {
  QSslCertificate certificate;
  QSslKey key;
  if (!makeSelfSignedCertificate(dir, certificate, key)) return false;
  configuration = QSslConfiguration::defaultConfiguration();
  configuration.setLocalCertificate(certificate);
  configuration.setPrivateKey(key);
  return true;
}

}  // namespace kirasol::test
