#include "player/recorder/station_protocol.h"

#include "recorder/print_qt.h"

#include <gtest/gtest.h>

namespace kirasol::recorder {
namespace {

TEST(StationProtocol, ServerTextSplit) {
  const struct {
    const char *text, *host, *path;
  } cases[] = {
      {"http://10.0.0.5/live/stream", "10.0.0.5", "/live/stream"},
      {"10.0.0.5", "10.0.0.5", ""},
      {"10.0.0.5/", "10.0.0.5", "/"},
      {"http://10.0.0.5:9000/a", "10.0.0.5:9000", "/a"},  // a port in the text stays in the host
      {"HTTP://10.0.0.5", "HTTP:", "//10.0.0.5"},          // only the exact lower-case prefix goes
      {"http://http://host/x/y", "host", "/x/y"},
      {"", "", ""},
  };
  for (const auto &c : cases) {
    const StationTarget t = splitServerText(QString::fromUtf8(c.text));
    EXPECT_EQ(t.host, QString::fromUtf8(c.host)) << c.text;
    EXPECT_EQ(t.path, QString::fromUtf8(c.path)) << c.text;
  }
}

TEST(StationProtocol, TargetChecks) {
  const struct {
    const char *host, *path, *port;
    bool ok;
    int value;
  } cases[] = {
      {"127.0.0.1", "", "8620", true, 8620}, {"127.0.0.1", "", " 8000 ", true, 8000},
      {"127.0.0.1", "", "1", true, 1},       {"127.0.0.1", "", "65535", true, 65535},
      {"127.0.0.1", "", "0", false, 0},      {"127.0.0.1", "", "65536", false, 0},
      {"127.0.0.1", "", "-5", false, 0},     {"127.0.0.1", "", "86x", false, 0},
      {"127.0.0.1", "", "", false, 0},       {"", "/x", "8620", false, 0},
      {"   ", "", "8620", false, 0},         {"h", "/a\r\nX-Injected: 1", "8620", false, 0},
  };
  for (const auto &c : cases) {
    std::int32_t port = 0;
    const QString problem = targetProblem({QString::fromUtf8(c.host), QString::fromUtf8(c.path)},
                                          QString::fromUtf8(c.port), &port);
    EXPECT_EQ(problem.isEmpty(), c.ok) << c.host << " " << c.port << ": " << problem.toStdString();
    if (c.ok) {
      EXPECT_EQ(port, c.value);
    }
  }
}

TEST(StationProtocol, RequestBytes) {
  EXPECT_EQ(buildRequest(QStringLiteral("192.168.1.7"), QStringLiteral("/")),
            QByteArray("GET / HTTP/1.0\r\nHost: 192.168.1.7\r\nUser-Agent: WinampMPEG/2.7\r\nAccept: */*\r\n"
                       "Icy-MetaData:1\r\nConnection: close\r\n\r\n"));
  // The path goes in after the address, so its "%" and "$" stay as typed.
  EXPECT_TRUE(buildRequest(QStringLiteral("1.2.3.4"), QStringLiteral("/a%20$b"))
                  .startsWith("GET /a%20$b HTTP/1.0\r\nHost: 1.2.3.4\r\n"));
}

TEST(StationProtocol, HeaderAcceptance) {
  const struct {
    const char *name;
    QByteArray buffer;
    std::optional<qsizetype> length;
  } cases[] = {
      {"complete ICY block with audio", "ICY 200 OK\r\nicy-metaint:8192\r\n\r\nAUDIO", 32},
      {"blank line still to come", "ICY 200 OK\r\nicy-metaint:8192\r\n", std::nullopt},
      {"status on a later line", "X-Proxy: 1\r\nICY 200 OK\r\n\r\n", 26},
      {"plain HTTP reply", "HTTP/1.0 200 OK\r\nicy-metaint:16\r\n\r\n", std::nullopt},
      {"HTTP reply whose body holds the words", "HTTP/1.0 200 OK\r\n\r\nICY 200 OK\r\n\r\n", std::nullopt},
      {"case matters", "icy 200 ok\r\n\r\n", std::nullopt},
      {"blank line alone", "\r\n\r\n", std::nullopt},
  };
  for (const auto &c : cases) EXPECT_EQ(acceptedHeaderLength(c.buffer), c.length) << c.name;
}

TEST(StationProtocol, HeaderValues) {
  const struct {
    const char *headers;
    std::int32_t metaInt;
    const char *radio;
    const char *bitrate;
  } cases[] = {
      {"ICY 200 OK\r\nicy-name:Kirasol FM\r\nicy-br:128\r\nicy-metaint:8192\r\n\r\n", 8192, "Kirasol FM",
       "Bitrate: 128 Kbps"},
      {"ICY 200 OK\r\nicy-name: Spaced \r\nicy-metaint: 16000\r\n\r\n", 16000, " Spaced ",
       "Bitrate: unknown bitrate"},
      {"ICY 200 OK\r\nicy-br:64\r\n\r\n", 0, "unknown station", "Bitrate: 64 Kbps"},
      {"ICY 200 OK\r\nicy-metaint:0\r\n\r\n", 0, "unknown station", "Bitrate: unknown bitrate"},
      {"ICY 200 OK\r\nicy-metaint:-4\r\n\r\n", 0, "unknown station", "Bitrate: unknown bitrate"},
      {"ICY 200 OK\r\nicy-metaint:abc\r\n\r\n", 0, "unknown station", "Bitrate: unknown bitrate"},
      {"ICY 200 OK\r\nicy-metaint:99999999999\r\n\r\n", 0, "unknown station", "Bitrate: unknown bitrate"},
      {"ICY 200 OK\r\nicy-metaint:2147483647\r\n\r\n", 2147483647, "unknown station", "Bitrate: unknown bitrate"},
      {"ICY 200 OK\r\nIcy-MetaInt:8192\r\n\r\n", 0, "unknown station", "Bitrate: unknown bitrate"},
      {"ICY 200 OK\r\nicy-name:\xca\xb6\xd2\xb9\xd5\r\n\r\n", 0, "สถานี", "Bitrate: unknown bitrate"},
  };
  // The bit rate as a number: what the recorder paces its reads by.
  const struct {
    const char *headers;
    std::int32_t kbps;
  } rates[] = {
      {"ICY 200 OK\r\nicy-br:128\r\n\r\n", 128}, {"ICY 200 OK\r\nicy-br: 64\r\n\r\n", 64},
      {"ICY 200 OK\r\nicy-br:128,64\r\n\r\n", 128}, {"ICY 200 OK\r\nicy-br:fast\r\n\r\n", 0},
      {"ICY 200 OK\r\nicy-br:-8\r\n\r\n", 0}, {"ICY 200 OK\r\n\r\n", 0},
  };
  for (const auto &r : rates) EXPECT_EQ(bitRateFrom(r.headers), r.kbps) << r.headers;
  for (const auto &c : cases) {
    EXPECT_EQ(metaIntFrom(c.headers), c.metaInt) << c.headers;
    EXPECT_EQ(stationNameText(c.headers), QString::fromUtf8(c.radio)) << c.headers;
    EXPECT_EQ(bitrateText(c.headers), QString::fromUtf8(c.bitrate)) << c.headers;
  }
}

TEST(StationProtocol, Titles) {
  const struct {
    QByteArray meta;
    const char *text;
  } cases[] = {
      {QByteArray("StreamTitle='A - B';StreamUrl='u';\0\0\0", 37), "Title: 'A - B'"},
      {"StreamTitle='AC;DC - Back In Black';StreamUrl='';", "Title: 'AC;DC - Back In Black'"},
      {"StreamTitle='Don't Stop';", "Title: 'Don't Stop'"},
      {"StreamTitle='&#3626;&#3640;&#3586;';", "Title: 'สุข'"},
      {"StreamTitle='';", "Title: ''"},
      {"StreamUrl='u';", "Title: Title not Available"},
      {"streamtitle='x';", "Title: Title not Available"},
      {QByteArray("StreamTitle='no end\0\0\0", 23), "Title: 'no end"},
      {"StreamTitle='\xe0\xb8\x81 UTF-8';", "Title: 'ก UTF-8'"},
      {"StreamTitle='\xa1 874';", "Title: 'ก 874'"},
  };
  for (const auto &c : cases) EXPECT_EQ(titleText(c.meta), QString::fromUtf8(c.text)) << c.meta.constData();
}

}  // namespace
}  // namespace kirasol::recorder
