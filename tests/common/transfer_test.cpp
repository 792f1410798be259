#include "common/transfer.h"
#include "support/test_http_server.h"
#include "support/test_support.h"

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <optional>

using kirasol::Transfer;
using kirasol::test::HttpResponse;
using kirasol::test::TestHttpServer;
using namespace std::chrono_literals;

namespace {

struct Case {
  const char *name;
  HttpResponse response;
  bool ok;
  int status;
  QByteArray body;  // checked only when ok
};

HttpResponse make(int status, QByteArray body, HttpResponse::Mode mode = HttpResponse::Mode::Normal,
                  qsizetype sent = 0, QList<QPair<QByteArray, QByteArray>> headers = {}) {
  HttpResponse r;
  r.status = status;
  r.body = std::move(body);
  r.mode = mode;
  r.sentBytes = sent;
  r.headers = std::move(headers);
  return r;
}

TEST(TransferTest, AcceptsOnlyWholeBodiesAnsweredWith200) {
  const QByteArray binary("\x00\x01\xff\r\n\x80 body", 10);
  const Case cases[] = {
      {"binary body kept byte for byte", make(200, binary), true, 200, binary},
      {"empty body", make(200, ""), true, 200, ""},
      {"not found", make(404, "<html>missing</html>"), false, 404, {}},
      {"server error", make(500, "oops"), false, 500, {}},
      {"no content is not a file", make(204, ""), false, 204, {}},
      {"body cut short", make(200, QByteArray(5000, 'x'), HttpResponse::Mode::CutShort, 1200), false, 200, {}},
      {"connection dropped before answering", make(200, "x", HttpResponse::Mode::Drop), false, 0, {}},
      {"redirect followed", make(302, "", HttpResponse::Mode::Normal, 0, {{"Location", "/target"}}), true, 200,
       "the target"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TestHttpServer server;
    ASSERT_TRUE(server.listen());
    server.setRoute("/file", c.response);
    server.setRoute("/target", make(200, "the target"));
    Transfer transfer(5s);
    const kirasol::FetchResult r = transfer.fetch(QUrl(server.url("/file")));
    EXPECT_EQ(r.ok, c.ok);
    EXPECT_EQ(r.httpStatus, c.status);
    EXPECT_EQ(transfer.lastStatus(), c.status);
    EXPECT_EQ(r.errorText.isEmpty(), c.ok) << r.errorText.toStdString();
    EXPECT_EQ(transfer.lastError(), r.errorText);
    if (c.ok) {
      EXPECT_EQ(r.body, c.body);
    }
    EXPECT_FALSE(transfer.busy());
  }
}

TEST(TransferTest, RefusedConnectionAndBadAddressesFailWithoutStatus) {
  Transfer transfer(5s);
  const quint16 closed = kirasol::test::freePort();
  for (const QString &address : {QStringLiteral("http://127.0.0.1:%1/x").arg(closed), QStringLiteral("ftp://127.0.0.1/x"),
                                 QStringLiteral("not a url"), QStringLiteral("file:///etc/hostname")}) {
    SCOPED_TRACE(address.toStdString());
    const kirasol::FetchResult r = transfer.fetch(QUrl(address));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.httpStatus, 0);
    EXPECT_FALSE(r.errorText.isEmpty());
  }
}

TEST(TransferTest, StalledServerTimesOutAndIsBusyMeanwhile) {
  TestHttpServer server;
  ASSERT_TRUE(server.listen());
  server.setRoute("/stall", make(200, "", HttpResponse::Mode::Stall));
  server.setRoute("/quick", make(200, "quick"));
  Transfer transfer(400ms);
  bool busyDuringFetch = false;
  kirasol::FetchResult nested;
  nested.ok = true;
  QTimer::singleShot(100ms, [&] {
    busyDuringFetch = transfer.busy();
    nested = transfer.fetch(QUrl(server.url("/quick")));
  });
  const kirasol::FetchResult r = transfer.fetch(QUrl(server.url("/stall")));
  EXPECT_TRUE(busyDuringFetch);
  EXPECT_FALSE(nested.ok);  // a second fetch while one runs is refused, not interleaved
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.errorText.isEmpty());
  EXPECT_FALSE(transfer.busy());
  // The refused nested fetch did not overwrite the outer one's outcome.
  EXPECT_EQ(transfer.lastError(), r.errorText);
  EXPECT_TRUE(transfer.fetch(QUrl(server.url("/quick"))).ok);
}

// What the player's page fetch and the updater's file fetch do with bodies
// that never end, end late, or end without saying where.
TEST(TransferTest, HostileBodiesEndAtTheirBoundsWithAClearError) {
  using Mode = HttpResponse::Mode;
  HttpResponse trickle = make(200, QByteArray(5000, 't'), Mode::Trickle);
  trickle.intervalMs = 50;
  kirasol::FetchLimits slowFile;
  slowFile.maxBytes = 1 << 20;
  slowFile.minBytesPerSecond = 1000;
  slowFile.rateWindow = 1s;
  kirasol::FetchLimits smallFile;
  smallFile.maxBytes = 4 << 20;
  smallFile.requireKnownLength = true;
  const struct {
    const char *name;
    HttpResponse response;
    std::optional<kirasol::FetchLimits> toFile;  // else fetch() with its page limits
    const char *error;
  } cases[] = {
      {"endless page", make(200, {}, Mode::Endless), {}, "the answer is larger than 1 MiB; stopped"},
      {"page announced too large", make(200, QByteArray(2 << 20, 'p')), {}, "the answer is larger than 1 MiB; stopped"},
      {"trickling page", trickle, {}, "not complete within 1.5 s"},
      {"endless file", make(200, {}, Mode::Endless), smallFile, "the answer is larger than 4 MiB; stopped"},
      {"trickling file", trickle, slowFile, "the server sent only"},
      {"file without a length", make(200, "abc", Mode::NoLength), smallFile, "the server did not say how long"},
      {"error page for a file", make(404, {}, Mode::Endless), smallFile, "the server answered with status 404"},
  };
  QTemporaryDir dir;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TestHttpServer server;
    ASSERT_TRUE(server.listen());
    server.setRoute("/x", c.response);
    Transfer transfer(5s);
    kirasol::FetchLimits page = kirasol::FetchLimits::page();
    page.deadline = 1500ms;
    transfer.setPageLimits(page);
    const QString file = dir.filePath("x");
    const kirasol::FetchResult r = c.toFile ? transfer.fetchToFile(QUrl(server.url("/x")), file, *c.toFile)
                                            : transfer.fetch(QUrl(server.url("/x")));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.errorText.startsWith(c.error)) << r.errorText.toStdString();
    EXPECT_LE(r.body.size(), 1 << 20);
    EXPECT_FALSE(QFile::exists(file));
  }
  // The same limits let a whole file through.
  TestHttpServer server;
  ASSERT_TRUE(server.listen());
  server.setRoute("/x", make(200, QByteArray(3 << 20, 'f')));
  Transfer transfer(5s);
  const kirasol::FetchResult r = transfer.fetchToFile(QUrl(server.url("/x")), dir.filePath("x"), smallFile);
  EXPECT_TRUE(r.ok) << r.errorText.toStdString();
  EXPECT_EQ(r.size, 3 << 20);
  EXPECT_EQ(kirasol::test::readFile(dir.filePath("x")), QByteArray(3 << 20, 'f'));
}

TEST(TransferTest, CancelEndsARunningFetchAtOnce) {
  TestHttpServer server;
  ASSERT_TRUE(server.listen());
  server.setRoute("/stall", make(200, "", HttpResponse::Mode::Stall));
  Transfer transfer(30s);
  QTimer::singleShot(100ms, [&] { transfer.cancel(); });
  const auto started = std::chrono::steady_clock::now();
  const kirasol::FetchResult r = transfer.fetch(QUrl(server.url("/stall")));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.canceled);
  EXPECT_FALSE(transfer.busy());
}

TEST(TransferTest, HttpsWorksWithATrustedCertificateAndFailsWithAnUntrustedOne) {
  QTemporaryDir dir;
  QSslCertificate certificate;
  QSslKey key;
  if (!kirasol::test::makeSelfSignedCertificate(dir.path(), certificate, key)) GTEST_SKIP() << "openssl could not make a certificate";
  QSslConfiguration serverConfig = QSslConfiguration::defaultConfiguration();
  serverConfig.setLocalCertificate(certificate);
  serverConfig.setPrivateKey(key);
  TestHttpServer server;
  ASSERT_TRUE(server.listenTls(serverConfig));
  server.setRoute("/secure", make(200, "over tls"));

  {
    Transfer transfer(5s);
    const kirasol::FetchResult r = transfer.fetch(QUrl(server.url("/secure")));
    EXPECT_FALSE(r.ok) << "an unknown self-signed certificate must not be accepted";
  }
  const QSslConfiguration saved = QSslConfiguration::defaultConfiguration();
  QSslConfiguration trusting = saved;
  trusting.addCaCertificate(certificate);
  QSslConfiguration::setDefaultConfiguration(trusting);
  Transfer transfer(5s);
  const kirasol::FetchResult r = transfer.fetch(QUrl(server.url("/secure")));
  QSslConfiguration::setDefaultConfiguration(saved);
  EXPECT_TRUE(r.ok) << r.errorText.toStdString();
  EXPECT_EQ(r.body, "over tls");
}

}  // namespace
