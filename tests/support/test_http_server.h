#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for tests that need answers a real
// server seldom gives on purpose: cut-short bodies, dropped connections, a
// server that goes away in the middle of a run. Event-driven on the thread
// that owns it, so a synchronous fetch on the same thread (which runs a local
// event loop) is served while it waits.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QString>
#include <QStringList>
#include <memory>

class QTcpServer;
class QTcpSocket;

namespace kirasol::test {

struct HttpResponse {
  enum class Mode {
    Normal,         // status line, headers, whole body
    CutShort,       // full Content-Length, but only `sentBytes` of the body, then close
    Drop,           // close the connection without answering
    StopListening,  // close the connection and stop accepting new ones
    Stall,          // read the request and never answer
    NoLength,       // no Content-Length: `sentBytes` of the body (all when 0), then close
    Endless,        // no Content-Length, and the body repeated for as long as the client reads
    Trickle,        // full Content-Length, then one byte of the body every `intervalMs`
  };
  int status = 200;
  QByteArray body;
  QList<QPair<QByteArray, QByteArray>> headers;
  Mode mode = Mode::Normal;
  qsizetype sentBytes = 0;
  int intervalMs = 200;
  int delayMs = 0;  // Normal / CutShort: the answer starts this long after the request
};

// A self-signed certificate for 127.0.0.1 (nothing trusts it), made in `dir`
// with the openssl tool; false when it could not be made.
bool makeSelfSignedCertificate(const QString &dir, QSslCertificate &certificate, QSslKey &key);
// The server side of TLS with such a certificate.
bool selfSignedServerConfiguration(const QString &dir, QSslConfiguration &configuration);

class TestHttpServer : public QObject {
 public:
  TestHttpServer();
  ~TestHttpServer() override;

  // Listens on 127.0.0.1 on a free port; with a configuration, speaks TLS.
  bool listen();
  bool listenTls(const QSslConfiguration &configuration);
  quint16 port() const { return port_; }
  // "http://127.0.0.1:PORT" + path (or https when listening with TLS).
  QString url(const QString &path) const;

  // Answers for one exact path; take precedence over a served folder.
  void setRoute(const QString &path, const HttpResponse &response);
  // GET prefix + name answers the bytes of folder/name, or 404.
  void serveFolder(const QString &prefix, const QString &folder);

  QStringList requestedPaths() const { return requested_; }
  void stopListening();

 private:
  void accept();
  void onReadable(QTcpSocket *socket);
  void answer(QTcpSocket *socket, const QString &path);

  std::unique_ptr<QTcpServer> server_;
  bool tls_ = false;
  quint16 port_ = 0;
  QMap<QString, HttpResponse> routes_;
  QString folderPrefix_;
  QString folder_;
  QStringList requested_;
  QMap<QTcpSocket *, QByteArray> pending_;
};

}  // namespace kirasol::test
