#include "http_request.h"
#include "web_site.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QTcpSocket>

using kirasol::station::HttpRequest;
using kirasol::station::HttpRequestParser;
using kirasol::station::WebSite;
using State = HttpRequestParser::State;

TEST(HttpRequestParser, ParsesOrRefusesRequests) {
  struct Case {
    const char *name;
    QByteArray bytes;
    State state;
  };
  const QByteArray big(20000, 'x');
  const QByteArray limitHead = "GET / HTTP/1.0\r\nX: " + QByteArray(16 * 1024 - 19, 'y');
  const std::vector<Case> cases = {
      {"plain GET", "GET /a HTTP/1.0\r\nHost: x\r\n\r\n", State::Complete},
      {"bare LF", "GET /a HTTP/1.0\nHost: x\n\n", State::Complete},
      {"no version", "GET /\r\n\r\n", State::Complete},
      {"head not finished", "GET /a HTTP/1.0\r\nHost: x\r\n", State::Incomplete},
      {"body not complete", "POST /p HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc", State::Incomplete},
      {"body complete", "POST /p HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", State::Complete},
      {"lower-case method", "get / HTTP/1.0\r\n\r\n", State::BadRequest},
      {"header without colon", "GET / HTTP/1.0\r\nbroken\r\n\r\n", State::BadRequest},
      {"bad length", "POST /p HTTP/1.1\r\nContent-Length: -4\r\n\r\n", State::BadRequest},
      {"chunked body", "POST /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", State::BadRequest},
      {"wrong protocol", "GET / FTP/1.0\r\n\r\n", State::BadRequest},
      {"body too large", "POST /p HTTP/1.1\r\nContent-Length: 999999\r\n\r\n", State::TooLarge},
      {"head of exactly the limit", limitHead + "\r\n\r\n", State::Complete},
      {"head one byte over the limit", limitHead + "y\r\n\r\n", State::TooLarge},
      {"endless head", "GET /" + big, State::TooLarge},
      {"endless header", "GET / HTTP/1.0\r\nX: " + big + "\r\n\r\n", State::TooLarge},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    HttpRequestParser whole;
    EXPECT_EQ(whole.feed(c.bytes), c.state);
    // Byte by byte gives the same answer.
    HttpRequestParser split;
    State s = State::Incomplete;
    for (char b : c.bytes) s = split.feed(QByteArrayView(&b, 1));
    EXPECT_EQ(s, c.state);
  }
}

TEST(HttpRequestParser, GivesHeadersCaseInsensitivelyAndTheDecodedPath) {
  HttpRequestParser p;
  ASSERT_EQ(p.feed("POST /update/a%20b.txt?x=1 HTTP/1.1\r\nICY-METADATA:  1 \r\nContent-Length: 4\r\n\r\nbodyEXTRA"),
            State::Complete);
  const HttpRequest &r = p.request();
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.header("Icy-MetaData"), "1");
  EXPECT_EQ(r.path(), "/update/a b.txt");
  EXPECT_EQ(r.body, "body");
  EXPECT_FALSE(r.hasHeader("Cookie"));
}

namespace {

struct Fetched {
  QByteArray head;
  QByteArray body;
  int status = 0;
};

// One request over a real socket; the station closes after answering.
Fetched fetch(quint16 port, const QByteArray &request) {
  QTcpSocket socket;
  socket.connectToHost(QStringLiteral("127.0.0.1"), port);
  if (!socket.waitForConnected(5000)) return {};
  socket.write(request);
  QByteArray all;
  while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000)) all += socket.readAll();
  all += socket.readAll();
  Fetched f;
  const qsizetype end = all.indexOf("\r\n\r\n");
  if (end < 0) return f;
  f.head = all.left(end);
  f.body = all.mid(end + 4);
  f.status = f.head.mid(9, 3).toInt();
  return f;
}

QByteArray get(const QString &path) { return "GET " + path.toUtf8() + " HTTP/1.0\r\nHost: x\r\n\r\n"; }

}  // namespace

TEST(DemoStationWeb, ServesUpdateFilesFormsAndRefusesTheRest) {
  kirasol::test::DemoStation station;
  ASSERT_TRUE(station.started()) << qPrintable(station.errorText());
  const quint16 port = station.httpPort();
  const QString update = kirasol::test::programDir() + QStringLiteral("/demo/update/");

  struct Case {
    const char *name;
    QByteArray request;
    int status;
  };
  const std::vector<Case> cases = {
      {"traversal", get(QStringLiteral("/update/../tracks.txt")), 403},
      {"encoded traversal", get(QStringLiteral("/update/..%2ftracks.txt")), 403},
      {"encoded slash", get(QStringLiteral("/update/x%2fy")), 403},
      {"hidden file", get(QStringLiteral("/update/.hidden")), 403},
      {"missing update file", get(QStringLiteral("/update/nothing.dat")), 404},
      {"update folder itself", get(QStringLiteral("/update/")), 404},
      {"unknown page", get(QStringLiteral("/nowhere")), 404},
      {"front page", get(QStringLiteral("/")), 200},
      {"chat page", get(QStringLiteral("/chat/")), 200},
      {"delete", "DELETE /update/version.dat HTTP/1.0\r\n\r\n", 405},
      {"garbage", "\x01\x02 nonsense\r\n\r\n", 400},
      {"body too large", "POST /postradio/radio.php HTTP/1.0\r\nContent-Length: 99999999\r\n\r\n", 413},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(fetch(port, c.request).status, c.status);
  }

  for (const char *name : {"liveupdate.html", "version.dat", "files.dat"}) {
    SCOPED_TRACE(name);
    const Fetched f = fetch(port, get(QStringLiteral("/update/") + QLatin1String(name)));
    EXPECT_EQ(f.status, 200);
    const QByteArray expected = kirasol::test::readFile(update + QLatin1String(name));
    ASSERT_FALSE(expected.isEmpty());
    EXPECT_EQ(f.body, expected);
  }
  // Every file that files.dat lists is there to fetch.
  const QByteArray list = kirasol::test::readFile(update + QStringLiteral("files.dat"));
  for (const QByteArray &line : list.split('\n')) {
    const QByteArray name = line.trimmed().split(',').value(0);
    if (name.isEmpty()) continue;
    EXPECT_EQ(fetch(port, get(QStringLiteral("/update/") + QString::fromUtf8(name))).status, 200) << name.data();
  }

  const Fetched form = fetch(port, get(QStringLiteral("/postradio/radio.php")));
  EXPECT_EQ(form.status, 200);
  EXPECT_TRUE(form.head.toLower().contains("content-type: text/html; charset=utf-8"));
  EXPECT_TRUE(QString::fromUtf8(form.body).contains(QStringLiteral("ขอเพลง")));
  EXPECT_TRUE(form.body.contains("<form method=\"post\""));

  const QByteArray post = "song=%E0%B8%94%E0%B8%B2%E0%B8%A7+Night&name=%3Cscript%3E";
  const Fetched thanks = fetch(port, "POST /postradio/radio.php HTTP/1.0\r\nContent-Type: "
                                     "application/x-www-form-urlencoded\r\nContent-Length: " +
                                         QByteArray::number(post.size()) + "\r\n\r\n" + post);
  EXPECT_EQ(thanks.status, 200);
  const QString text = QString::fromUtf8(thanks.body);
  EXPECT_TRUE(text.contains(QStringLiteral("ขอบคุณ")));
  EXPECT_TRUE(text.contains(QStringLiteral("ดาว Night")));
  EXPECT_FALSE(text.contains(QStringLiteral("<script>")));  // what the listener typed is escaped

  const Fetched head = fetch(port, "HEAD /update/version.dat HTTP/1.0\r\n\r\n");
  EXPECT_EQ(head.status, 200);
  EXPECT_TRUE(head.body.isEmpty());
}
