#include "web_site.h"

#include "common/text_codec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace kirasol::station {

namespace {

constexpr qint64 kMaxServedFile = 64 * 1024 * 1024;
constexpr int kRequestTimeoutMs = 10000;

QByteArray reasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Payload Too Large";
    case 500: return "Internal Server Error";
    default: return "Error";
  }
}

QByteArray page(const QString &title, const QString &body) {
  return (QStringLiteral("<!DOCTYPE html>\n<html lang=\"th\"><head><meta charset=\"utf-8\"><title>") + title +
          QStringLiteral("</title></head>\n<body style=\"font-family: sans-serif; background: #1b1d26; color: #e8e8f0\">\n") +
          body + QStringLiteral("\n</body></html>\n"))
      .toUtf8();
}

WebResponse htmlError(int status, const QString &text) {
  return {status, "text/html; charset=utf-8",
          page(QString::number(status), QStringLiteral("<h1>%1 %2</h1><p>%3</p>")
                                            .arg(status)
                                            .arg(QString::fromLatin1(reasonPhrase(status)), text.toHtmlEscaped()))};
}

// Form fields of an application/x-www-form-urlencoded body, text decoded as
// UTF-8 (or the Thai code page when the bytes are not UTF-8).
QString formField(const QByteArray &body, QByteArrayView name) {
  for (const QByteArray &pair : body.split('&')) {
    const qsizetype eq = pair.indexOf('=');
    QByteArray key = eq < 0 ? pair : pair.left(eq);
    key.replace('+', ' ');
    if (QByteArray::fromPercentEncoding(key) != name) continue;
    QByteArray value = eq < 0 ? QByteArray() : pair.mid(eq + 1);
    value.replace('+', ' ');
    return decodeText(QByteArray::fromPercentEncoding(value)).trimmed();
  }
  return {};
}

QString requestForm() {
  return QStringLiteral(
      "<form method=\"post\" action=\"/postradio/radio.php\" accept-charset=\"utf-8\">\n"
      "<p><label>ชื่อผู้ขอ / Your name<br><input name=\"name\" maxlength=\"60\"></label></p>\n"
      "<p><label>เพลงที่ขอ / Song<br><input name=\"song\" maxlength=\"120\"></label></p>\n"
      "<p><label>ข้อความถึงดีเจ / Message to the DJ<br><textarea name=\"message\" rows=\"3\" cols=\"40\"></textarea></label></p>\n"
      "<p><button type=\"submit\">ส่งคำขอ / Send request</button></p>\n"
      "</form>");
}

}  // namespace

WebResponse WebSite::respond(const HttpRequest &request) const {
  const QByteArray path = request.path();
  const bool get = request.method == "GET" || request.method == "HEAD";
  if (path.startsWith("/update/")) {
    if (!get) return htmlError(405, QStringLiteral("Only GET is supported here."));
    return updateFile(path.mid(8));
  }
  if (path == "/postradio/radio.php") {
    if (get)
      return {200, "text/html; charset=utf-8",
              page(QStringLiteral("ขอเพลงจากดีเจ"),
                   QStringLiteral("<h1>ขอเพลงจากดีเจ / Request a song</h1>\n") + requestForm())};
    if (request.method != "POST") return htmlError(405, QStringLiteral("Use GET or POST."));
    const QString song = formField(request.body, "song");
    const QString name = formField(request.body, "name");
    if (song.isEmpty())
      return {200, "text/html; charset=utf-8",
              page(QStringLiteral("ขอเพลงจากดีเจ"),
                   QStringLiteral("<h1>กรุณาใส่ชื่อเพลง / Please enter a song</h1>\n") + requestForm())};
    const QString who = name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(name.toHtmlEscaped());
    return {200, "text/html; charset=utf-8",
            page(QStringLiteral("ขอบคุณค่ะ"),
                 QStringLiteral("<h1>ขอบคุณค่ะ / Thank you!</h1>\n<p>ดีเจได้รับคำขอเพลง “%1”%2 แล้วค่ะ<br>"
                                "The DJ has your request for “%1”%2.</p>\n"
                                "<p><a href=\"/postradio/radio.php\">ขอเพลงอีก / Request another</a></p>")
                     .arg(song.toHtmlEscaped(), who))};
  }
  if (!get) return htmlError(405, QStringLiteral("Use GET."));
  if (path == "/" || path == "/index.html")
    return {200, "text/html; charset=utf-8",
            page(stationName_, QStringLiteral("<h1>%1</h1>\n<p>สถานีวิทยุทดลองของคีราซล / The Kirasol demo station.</p>\n"
                                              "<ul><li><a href=\"/postradio/radio.php\">ขอเพลง / Request a song</a></li>\n"
                                              "<li><a href=\"/chat/\">ห้องแชท / Chat</a></li></ul>")
                                   .arg(stationName_.toHtmlEscaped()))};
  if (path == "/chat/" || path == "/chat")
    return {200, "text/html; charset=utf-8",
            page(QStringLiteral("ห้องแชท"), QStringLiteral("<h1>ห้องแชท / Chat</h1>\n<p>ยังไม่มีใครออนไลน์ / Nobody is "
                                                           "online yet.</p>\n<p><a href=\"/\">กลับ / Back</a></p>"))};
  return htmlError(404, QStringLiteral("Nothing here."));
}

WebResponse WebSite::updateFile(const QByteArray &rawName) const {
  const QString name = QString::fromUtf8(rawName);
  if (name.isEmpty()) return htmlError(404, QStringLiteral("No file named."));
  if (name.contains(u'/') || name.contains(u'\\') || name.contains(QStringLiteral("..")) || name.startsWith(u'.') ||
      name.contains(QChar(0)))
    return htmlError(403, QStringLiteral("That file name is not allowed."));
  const QFileInfo info(QDir(updateFolder_).filePath(name));
  if (!info.isFile()) return htmlError(404, QStringLiteral("No such file in the update folder."));
  if (info.size() > kMaxServedFile) return htmlError(403, QStringLiteral("File too large."));
  QFile f(info.filePath());
  if (!f.open(QIODevice::ReadOnly)) return htmlError(500, QStringLiteral("The file cannot be read."));
  const QString suffix = info.suffix().toLower();
  QByteArray type = "application/octet-stream";
  if (suffix == u"html" || suffix == u"htm") type = "text/html";
  else if (suffix == u"txt" || suffix == u"dat") type = "text/plain";
  return {200, type, f.readAll()};
}

QByteArray serializeResponse(const WebResponse &r, bool headOnly) {
  QByteArray out = "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + reasonPhrase(r.status) + "\r\n";
  out += "Content-Type: " + r.contentType + "\r\n";
  out += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
  out += "Connection: close\r\n\r\n";
  if (!headOnly) out += r.body;
  return out;
}

WebServer::WebServer(WebSite site, QObject *parent)
    : QObject(parent), site_(std::move(site)), server_(new QTcpServer(this)) {
  connect(server_, &QTcpServer::pendingConnectionAvailable, this, &WebServer::accept);
}

bool WebServer::listen(const QHostAddress &address, quint16 port) { return server_->listen(address, port); }
quint16 WebServer::port() const { return server_->serverPort(); }
QString WebServer::errorString() const { return server_->errorString(); }

void WebServer::accept() {
  while (QTcpSocket *socket = server_->nextPendingConnection()) {
    socket->setParent(this);
    auto parser = std::make_shared<HttpRequestParser>();
    auto *deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, socket, &QTcpSocket::abort);
    deadline->start(kRequestTimeoutMs);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::readyRead, socket, [this, socket, parser, deadline] {
      const auto before = parser->state();
      const auto state = parser->feed(socket->readAll());
      if (before != HttpRequestParser::State::Incomplete || state == HttpRequestParser::State::Incomplete) return;
      deadline->stop();
      WebResponse response;
      if (state == HttpRequestParser::State::Complete) response = site_.respond(parser->request());
      else response = htmlError(state == HttpRequestParser::State::TooLarge ? 413 : 400, QStringLiteral("Bad request."));
      socket->write(serializeResponse(response, parser->request().method == "HEAD"));
      socket->disconnectFromHost();
    });
  }
}

}  // namespace kirasol::station
