#pragma once
// The station's small web site on its HTTP port: the update folder, the
// song-request form and a front page. Routing is a plain function of the
// request so it can be tested without sockets.

#include "http_request.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

class QTcpServer;

namespace kirasol::station {

struct WebResponse {
  int status = 200;
  QByteArray contentType = "text/html; charset=utf-8";
  QByteArray body;
};

class WebSite {
 public:
  explicit WebSite(QString updateFolder, QString stationName = QStringLiteral("Kirasol Demo Station"))
      : updateFolder_(std::move(updateFolder)), stationName_(std::move(stationName)) {}

  // GET /update/<name>        a file of the update folder (names with "/",
  //                           "\", ".." or a leading "." are refused)
  // GET  /postradio/radio.php the song-request form; POST: a thank-you page
  // GET  / and /chat/         small pages
  // anything else             404
  WebResponse respond(const HttpRequest &request) const;

 private:
  WebResponse updateFile(const QByteArray &name) const;

  QString updateFolder_;
  QString stationName_;
};

// The complete HTTP/1.1 response for `response`; without body for HEAD.
QByteArray serializeResponse(const WebResponse &response, bool headOnly);

class WebServer : public QObject {
  Q_OBJECT
 public:
  WebServer(WebSite site, QObject *parent = nullptr);
  bool listen(const QHostAddress &address, quint16 port);
  quint16 port() const;
  QString errorString() const;

 private:
  void accept();

  WebSite site_;
  QTcpServer *server_;
};

}  // namespace kirasol::station
