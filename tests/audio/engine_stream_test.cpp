// The engine's URL streams end to end against local test servers: connection
// outcomes, download callbacks, metadata timing, the download buffer, the
// spectrum of what is heard, output state and handle lifetime.

#include "engine_fixture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace kirasol::audio::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string firstLine(const char *block) { return block ? std::string(block) : std::string(); }

std::vector<std::string> blockLines(const char *block) {
  std::vector<std::string> lines;
  while (block && *block) {
    lines.emplace_back(block);
    block += lines.back().size() + 1;
  }
  return lines;
}

long residentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int peakBin(const float *bins) {
  int best = 1;
  for (int k = 1; k < 1024; ++k)
    if (bins[k] > bins[best]) best = k;
  return best;
}

// ---- connection outcomes ------------------------------------------------------

struct ConnectCase {
  const char *name;
  std::function<std::string(TestServer &other)> setUp;  // returns the URL to open
  std::function<TestServer::Handler(TestServer &other)> handler;
  int error;                // BASS_OK: a handle is expected
  DWORD tagType;            // which tag block is set (0: none checked)
  const char *statusLine;
};

class ConnectTest : public EngineTest, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(ConnectTest, OpensOrFailsWithTheRightCode) {
  const auto &c = GetParam();
  const std::string tone = readFixture("tone1k.mp3");
  TestServer audio(icyServer(tone, 8192));
  TestServer server(c.handler ? c.handler(audio) : icyServer(tone, 8192));
  const std::string url = c.setUp ? c.setUp(server) : server.url();

  const HSTREAM h = BASS_StreamCreateURL(url.c_str(), 0, 0, nullptr, nullptr);
  if (c.error != BASS_OK) {
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), c.error);
    return;
  }
  ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
  const DWORD other = c.tagType == BASS_TAG_ICY ? BASS_TAG_HTTP : BASS_TAG_ICY;
  EXPECT_EQ(firstLine(BASS_ChannelGetTags(h, c.tagType)), c.statusLine);
  EXPECT_EQ(BASS_ChannelGetTags(h, other), nullptr);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
  EXPECT_TRUE(BASS_StreamFree(h));
}

std::string playlistResponse(const std::string &body, const char *type) {
  return std::string("HTTP/1.0 200 OK\r\nContent-Type: ") + type + "\r\n\r\n" + body;
}

const ConnectCase kConnectCases[] = {
    {"IcyWithMetaint", nullptr, nullptr, BASS_OK, BASS_TAG_ICY, "ICY 200 OK"},
    {"Http10Icecast", nullptr, [](TestServer &) { return httpServer(readFixture("tone1k.mp3")); }, BASS_OK,
     BASS_TAG_HTTP, "HTTP/1.0 200 OK"},
    {"RedirectFollowed", nullptr,
     [](TestServer &target) {
       return fixedResponse("HTTP/1.1 302 Found\r\nLocation: " + target.url() + "\r\nContent-Length: 0\r\n\r\n");
     },
     BASS_OK, BASS_TAG_ICY, "ICY 200 OK"},
    {"PlsWithDeadFirstEntry", [](TestServer &s) { return s.url("/listen.pls"); },
     [](TestServer &target) {
       const std::string dead = "http://127.0.0.1:" + std::to_string(refusedPort()) + "/";
       return fixedResponse(playlistResponse(
           "[playlist]\nNumberOfEntries=2\nFile1=" + dead + "\nTitle1=dead\nFile2=" + target.url() + "\nVersion=2\n",
           "audio/x-scpls"));
     },
     BASS_OK, BASS_TAG_ICY, "ICY 200 OK"},
    {"M3uEntry", nullptr,
     [](TestServer &target) {
       return fixedResponse(playlistResponse("#EXTM3U\n#EXTINF:-1,Test\n" + target.url() + "\n", "audio/x-mpegurl"));
     },
     BASS_OK, BASS_TAG_ICY, "ICY 200 OK"},
    {"PlaylistWithoutPlayableEntry", [](TestServer &s) { return s.url("/listen.pls"); },
     [](TestServer &) {
       return fixedResponse(playlistResponse(
           "[playlist]\nFile1=http://127.0.0.1:" + std::to_string(refusedPort()) + "/\n", "audio/x-scpls"));
     },
     BASS_ERROR_FILEOPEN, 0, ""},
    {"NotFound", nullptr,
     [](TestServer &) { return fixedResponse("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"); },
     BASS_ERROR_FILEOPEN, 0, ""},
    {"ServerError", nullptr,
     [](TestServer &) { return fixedResponse("HTTP/1.0 503 Service Unavailable\r\n\r\n"); }, BASS_ERROR_FILEOPEN, 0,
     ""},
    {"Refused", [](TestServer &) { return "http://127.0.0.1:" + std::to_string(refusedPort()) + "/"; }, nullptr,
     BASS_ERROR_FILEOPEN, 0, ""},
    {"HtmlBody", nullptr,
     [](TestServer &) {
       const std::string page = "<!DOCTYPE html><html><body><h1>Station offline</h1></body></html>";
       return fixedResponse("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                            std::to_string(page.size()) + "\r\n\r\n" + page);
     },
     BASS_ERROR_FILEFORM, 0, ""},
    {"EmptyBody", nullptr, [](TestServer &) { return fixedResponse("ICY 200 OK\r\nicy-br:128\r\n\r\n"); },
     BASS_ERROR_FILEFORM, 0, ""},
    {"IcyErrorLine", nullptr, [](TestServer &) { return fixedResponse("ICY 404 Resource Not Found\r\n\r\n"); },
     BASS_ERROR_FILEOPEN, 0, ""},
    {"TlsHandshakeFails", [](TestServer &s) { return "https://127.0.0.1:" + std::to_string(s.port()) + "/"; },
     [](TestServer &) {
       return TestServer::Handler([](Connection &c) { c.send("HTTP/1.0 200 OK\r\n\r\nplain text, no TLS"); });
     },
     BASS_ERROR_SSL, 0, ""},
    {"UnsupportedScheme", [](TestServer &) { return std::string("ftp://127.0.0.1/stream.mp3"); }, nullptr,
     BASS_ERROR_PROTOCOL, 0, ""},
    {"MalformedAddress", [](TestServer &) { return std::string("no address at all"); }, nullptr,
     BASS_ERROR_ILLPARAM, 0, ""},
};

void PrintTo(const ConnectCase &c, std::ostream *os) { *os << c.name; }

INSTANTIATE_TEST_SUITE_P(Connection, ConnectTest, ::testing::ValuesIn(kConnectCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(EngineTest, SilentServerTimesOutWithinTheNetworkTimeout) {
  BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 1000);
  TestServer silent([](Connection &c) {
    c.readRequest();
    c.holdOpen();
  });
  const auto start = Clock::now();
  EXPECT_EQ(BASS_StreamCreateURL(silent.url().c_str(), 0, 0, nullptr, nullptr), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_TIMEOUT);
  const auto took = Clock::now() - start;
  EXPECT_GE(took, 900ms);
  EXPECT_LT(took, 2000ms);
}

TEST_F(EngineTest, RequestCarriesMetadataWishAndAgent) {
  TestServer server(icyServer(readFixture("tone1k.mp3"), 8192));
  BASS_SetConfigPtr(BASS_CONFIG_NET_AGENT, "TestAgent/2.0");
  const HSTREAM h = BASS_StreamCreateURL(server.url("/live").c_str(), 0, 0, nullptr, nullptr);
  BASS_SetConfigPtr(BASS_CONFIG_NET_AGENT, "Kirasol Radio/1.1");
  ASSERT_NE(h, 0u);
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].rfind("GET /live HTTP/1.1\r\n", 0), 0u) << requests[0];
  EXPECT_NE(requests[0].find("Icy-MetaData:1\r\n"), std::string::npos);
  EXPECT_NE(requests[0].find("User-Agent: TestAgent/2.0\r\n"), std::string::npos);
  BASS_StreamFree(h);
}

TEST_F(EngineTest, TagBlockHoldsEveryHeaderLine) {
  TestServer server(icyServer(readFixture("tone1k.mp3"), 8192));
  const HSTREAM h = BASS_StreamCreateURL(server.url().c_str(), 0, 0, nullptr, nullptr);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(blockLines(BASS_ChannelGetTags(h, BASS_TAG_ICY)),
            (std::vector<std::string>{"ICY 200 OK", "icy-name:Test Station", "icy-genre:Test", "icy-br:128",
                                      "icy-metaint:8192"}));
  EXPECT_EQ(BASS_ChannelGetTags(h, BASS_TAG_META), nullptr);  // nothing heard yet
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
  BASS_StreamFree(h);
}

TEST_F(EngineTest, ProxyIsUsedWhenSetAndEnvironmentProxiesAreIgnoredWhenNot) {
  const std::string tone = readFixture("tone1k.mp3");
  // A proxy is asked for the absolute address and answers with the stream.
  TestServer proxy([tone](Connection &c) {
    const std::string request = c.readRequest();
    if (request.rfind("GET http://radio.invalid:8000/live HTTP/1.1\r\n", 0) != 0) {
      c.send("HTTP/1.0 400 Bad Request\r\n\r\n");
      return;
    }
    c.send("ICY 200 OK\r\nicy-name:Via Proxy\r\nicy-br:128\r\n\r\n");
    c.send(tone);
  });
  const std::string proxyAddress = "127.0.0.1:" + std::to_string(proxy.port());
  ASSERT_TRUE(BASS_SetConfigPtr(BASS_CONFIG_NET_PROXY, proxyAddress.c_str()));
  HSTREAM h = BASS_StreamCreateURL("http://radio.invalid:8000/live", 0, 0, nullptr, nullptr);
  ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
  EXPECT_EQ(blockLines(BASS_ChannelGetTags(h, BASS_TAG_ICY))[1], "icy-name:Via Proxy");
  BASS_StreamFree(h);

  // NULL: direct, even with a (dead) proxy in the environment.
  ASSERT_TRUE(BASS_SetConfigPtr(BASS_CONFIG_NET_PROXY, nullptr));
  TestServer direct(icyServer(tone, 0));
  setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(refusedPort())).c_str(), 1);
  h = BASS_StreamCreateURL(direct.url().c_str(), 0, 0, nullptr, nullptr);
  unsetenv("http_proxy");
  ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
  EXPECT_EQ(direct.connectionCount(), 1);
  BASS_StreamFree(h);
}

// ---- download callback ---------------------------------------------------------

struct DownloadLog {
  std::mutex mutex;
  std::vector<std::string> statusBlocks;
  std::string data;
  int endCalls = 0;
  bool callAfterEnd = false;
  std::vector<char> order;  // 'S' status, 'D' data, 'E' end

  static void proc(const void *buffer, DWORD length, void *user) {
    auto *log = static_cast<DownloadLog *>(user);
    std::lock_guard lock(log->mutex);
    if (log->endCalls > 0) log->callAfterEnd = true;
    if (!buffer) {
      ++log->endCalls;
      log->order.push_back('E');
    } else if (length == 0) {
      const char *p = static_cast<const char *>(buffer);
      std::string block;
      while (*p) {
        block += p;
        block += '\n';
        p += std::strlen(p) + 1;
      }
      log->statusBlocks.push_back(block);
      log->order.push_back('S');
    } else {
      log->data.append(static_cast<const char *>(buffer), length);
      if (log->order.empty() || log->order.back() != 'D') log->order.push_back('D');
    }
  }
};

TEST_F(EngineTest, DownloadProcSeesStatusThenAudioWithoutMetadataThenEnd) {
  const std::string tone = readFixture("tone1k.mp3");
  TestServer server(icyServer(tone, 4000, [](size_t i) { return "StreamTitle='Block " + std::to_string(i) + "';"; }));
  DownloadLog log;
  const HSTREAM h = BASS_StreamCreateURL(server.url().c_str(), 0, BASS_STREAM_STATUS, &DownloadLog::proc, &log);
  ASSERT_NE(h, 0u);
  {
    std::lock_guard lock(log.mutex);
    ASSERT_FALSE(log.order.empty());
    EXPECT_EQ(log.order.front(), 'S');  // before StreamCreateURL returned
  }
  ASSERT_TRUE(eventually([&] { std::lock_guard l(log.mutex); return log.endCalls > 0; }, 5s));
  std::this_thread::sleep_for(50ms);
  std::lock_guard lock(log.mutex);
  EXPECT_EQ(log.order, (std::vector<char>{'S', 'D', 'E'}));
  ASSERT_EQ(log.statusBlocks.size(), 1u);
  EXPECT_EQ(log.statusBlocks[0].rfind("ICY 200 OK\nicy-name:Test Station\n", 0), 0u);
  EXPECT_EQ(log.data.size(), tone.size());
  EXPECT_TRUE(log.data == tone) << "downloaded bytes differ from the station's audio";
  EXPECT_FALSE(log.callAfterEnd);
  EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_CONNECTED), 0u);
  BASS_StreamFree(h);
}

TEST_F(EngineTest, WithoutStatusFlagOnlyDataAndEndArrive) {
  TestServer server(httpServer(readFixture("tone1k.mp3")));
  DownloadLog log;
  const HSTREAM h = BASS_StreamCreateURL(server.url().c_str(), 0, 0, &DownloadLog::proc, &log);
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(eventually([&] { std::lock_guard l(log.mutex); return log.endCalls > 0; }, 5s));
  std::lock_guard lock(log.mutex);
  EXPECT_EQ(log.order, (std::vector<char>{'D', 'E'}));
  BASS_StreamFree(h);
}

TEST_F(EngineTest, FailedOpenCallsStatusButNothingAfterReturning) {
  TestServer server(fixedResponse("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"));
  DownloadLog log;
  EXPECT_EQ(BASS_StreamCreateURL(server.url().c_str(), 0, BASS_STREAM_STATUS, &DownloadLog::proc, &log), 0u);
  std::this_thread::sleep_for(100ms);
  std::lock_guard lock(log.mutex);
  ASSERT_EQ(log.statusBlocks.size(), 1u);
  EXPECT_EQ(log.statusBlocks[0], "HTTP/1.1 404 Not Found\nContent-Length: 0\n");
  EXPECT_EQ(log.order, (std::vector<char>{'S'}));
}

// ---- metadata ----------------------------------------------------------------

struct MetaLog {
  std::mutex mutex;
  Clock::time_point started;
  struct Entry {
    double seconds;
    std::string tag;
    float toneLevel;
  };
  std::vector<Entry> entries;

  static void proc(HSYNC, DWORD channel, DWORD data, void *user) {
    auto *log = static_cast<MetaLog *>(user);
    EXPECT_EQ(data, 0u);
    const char *tag = BASS_ChannelGetTags(channel, BASS_TAG_META);
    float bins[1024] = {};
    BASS_ChannelGetData(channel, bins, BASS_DATA_FFT2048);
    std::lock_guard lock(log->mutex);
    log->entries.push_back({std::chrono::duration<double>(Clock::now() - log->started).count(),
                            tag ? tag : "(null)", bins[46]});
  }
};

TEST_F(EngineTest, MetadataBecomesCurrentWhenItsAudioIsHeard) {
  // Two seconds of silence, then the 1 kHz tone; metadata every 16300 audio
  // bytes (about a second at 128 kbit/s), the tone's title exactly where the
  // tone begins.
  const std::string silence = readFixture("silence.mp3");
  const std::string audio = silence + readFixture("tone1k.mp3");
  ASSERT_EQ(silence.size(), 32600u);
  const std::vector<std::string> titles = {"StreamTitle='Quiet';StreamUrl='';", "StreamTitle='Tone';StreamUrl='';", "",
                                           "StreamTitle='Tone';StreamUrl='';", "", ""};
  TestServer server(icyServer(audio, 16300, [&](size_t i) { return i < titles.size() ? titles[i] : ""; }));
  MetaLog log;
  const HSTREAM h = BASS_StreamCreateURL(server.url().c_str(), 0, 0, nullptr, nullptr);
  ASSERT_NE(h, 0u);
  ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_META, 0, &MetaLog::proc, &log), 0u);
  std::this_thread::sleep_for(300ms);  // let the buffer fill
  log.started = Clock::now();
  ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
  ASSERT_TRUE(eventually([&] { std::lock_guard l(log.mutex); return log.entries.size() >= 3; }, 8s));
  std::this_thread::sleep_for(300ms);
  float bins[1024];
  BASS_ChannelGetData(h, bins, BASS_DATA_FFT2048);
  const float toneAfter = bins[46];

  std::lock_guard lock(log.mutex);
  ASSERT_EQ(log.entries.size(), 3u);  // one per block with text, repeats included
  const double bytesPerSecond = 128000.0 / 8.0;
  const double expected[] = {16300 / bytesPerSecond, 32600 / bytesPerSecond, 65200 / bytesPerSecond};
  const char *expectedTags[] = {"StreamTitle='Quiet';StreamUrl='';", "StreamTitle='Tone';StreamUrl='';",
                                "StreamTitle='Tone';StreamUrl='';"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_NEAR(log.entries[i].seconds, expected[i], 0.15) << "block " << i;
    EXPECT_EQ(log.entries[i].tag, expectedTags[i]);
  }
  EXPECT_LT(log.entries[1].toneLevel, 0.05f) << "the tone was heard before its title";
  EXPECT_GT(toneAfter, 0.1f);
  EXPECT_STREQ(BASS_ChannelGetTags(h, BASS_TAG_META), "StreamTitle='Tone';StreamUrl='';");
  BASS_StreamFree(h);
}

TEST_F(EngineTest, SyncCallbackMayFreeItsOwnStream) {
  TestServer server(icyServer(readFixture("tone1k.mp3"), 4000, [](size_t i) {
    return "StreamTitle='" + std::to_string(i) + "';";
  }));
  const HSTREAM h = BASS_StreamCreateURL(server.url().c_str(), 0, 0, nullptr, nullptr);
  ASSERT_NE(h, 0u);
  struct Log {
    std::atomic<int> metas{0}, ends{0};
    std::atomic<BOOL> freed{FALSE};
  } log;
  BASS_ChannelSetSync(
      h, BASS_SYNC_META, 0,
      [](HSYNC, DWORD channel, DWORD, void *user) {
        auto *l = static_cast<Log *>(user);
        if (++l->metas == 1) l->freed = BASS_StreamFree(channel);
      },
      &log);
  BASS_ChannelSetSync(
      h, BASS_SYNC_END, 0, [](HSYNC, DWORD, DWORD, void *user) { ++static_cast<Log *>(user)->ends; }, &log);
  ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
  ASSERT_TRUE(eventually([&] { return log.metas.load() > 0; }, 3s));
  std::this_thread::sleep_for(500ms);
  EXPECT_TRUE(log.freed.load());
  EXPECT_EQ(log.metas.load(), 1);
  EXPECT_EQ(log.ends.load(), 0);
  EXPECT_FALSE(BASS_StreamFree(h));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

// ---- buffer, end and automatic free --------------------------------------------

TEST_F(EngineTest, BufferIsBoundedAndTheEndIsHeardOnce) {
  BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 1000);
  std::string audio;
  for (int i = 0; i < 2; ++i) audio += readFixture("tone1k.mp3");  // 8 s
  // Sent at twice the playing rate, so the buffer fills and then holds back.
  TestServer server(icyServer(audio, 8192, nullptr, 32000));
  const HSTREAM h = BASS_StreamCreateURL(server.url().c_str(), 0, BASS_STREAM_BLOCK | BASS_STREAM_AUTOFREE,
                                         nullptr, nullptr);
  ASSERT_NE(h, 0u);
  const QWORD end = BASS_StreamGetFilePosition(h, BASS_FILEPOS_END);
  EXPECT_EQ(end, 128u * 1000 / 8);
  EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_CONNECTED), 1u);
  EndLog log;
  BASS_ChannelSetSync(h, BASS_SYNC_END, 0, &EndLog::proc, &log);

  QWORD most = 0;
  auto check = [&] {
    const QWORD held = BASS_StreamGetFilePosition(h, BASS_FILEPOS_BUFFER);
    EXPECT_LE(held, end);
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_END), end);
    most = std::max(most, held);
  };
  ASSERT_TRUE(eventually([&] { check(); return most == end; }, 3s)) << "buffer never filled, most " << most;
  ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
  ASSERT_TRUE(eventually([&] { check(); return BASS_StreamGetFilePosition(h, BASS_FILEPOS_CONNECTED) == 0; }, 10s));
  ASSERT_TRUE(eventually([&] { return log.ends.load() > 0; }, 10s));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(log.ends.load(), 1);
  // Freed automatically at its end.
  EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_BUFFER), QWORD(-1));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
  EXPECT_FALSE(BASS_StreamFree(h));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

TEST_F(EngineTest, StreamCutMidFrameStillEndsAndPlaysWhatArrived) {
  std::string tone = readFixture("tone1k.mp3");
  tone.resize(30000 + 200);  // ends inside a frame
  TestServer server(httpServer(tone));
  const HSTREAM h = BASS_StreamCreateURL(server.url().c_str(), 0, 0, nullptr, nullptr);
  ASSERT_NE(h, 0u);
  EndLog log;
  BASS_ChannelSetSync(h, BASS_SYNC_END, 0, &EndLog::proc, &log);
  const auto start = Clock::now();
  ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
  ASSERT_TRUE(eventually([&] { return log.ends.load() > 0; }, 5s));
  const double played = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_NEAR(played, 30000 / 16000.0, 0.25);
  EXPECT_TRUE(BASS_StreamFree(h));  // not AUTOFREE: still valid after its end
}

TEST_F(EngineTest, GarbageBetweenFramesIsSkipped) {
  const std::string tone = readFixture("tone1k.mp3");
  std::string dirty;
  for (size_t pos = 0; pos < tone.size(); pos += 8000) {
    dirty += tone.substr(pos, 8000);
    dirty += std::string(300, '\x5a') + "\xff\xfb garbage \xff";
  }
  TestServer server(icyServer(dirty, 0));
  const HSTREAM h = BASS_StreamCreateURL(server.url().c_str(), 0, 0, nullptr, nullptr);
  ASSERT_NE(h, 0u);
  EndLog log;
  BASS_ChannelSetSync(h, BASS_SYNC_END, 0, &EndLog::proc, &log);
  const auto start = Clock::now();
  ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
  std::this_thread::sleep_for(1500ms);
  float bins[1024];
  ASSERT_NE(BASS_ChannelGetData(h, bins, BASS_DATA_FFT2048), DWORD(-1));
  EXPECT_EQ(peakBin(bins), 46);
  ASSERT_TRUE(eventually([&] { return log.ends.load() > 0; }, 6s));
  const double played = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GT(played, 3.5);  // nearly all of the 4 s were decoded
  BASS_StreamFree(h);
}

// ---- spectrum ------------------------------------------------------------------

struct FftCase {
  const char *fixture;
  std::optional<int> peak;  // nothing: silence
};

void PrintTo(const FftCase &c, std::ostream *os) { *os << c.fixture; }

class FftTest : public EngineTest, public ::testing::WithParamInterface<FftCase> {};

TEST_P(FftTest, PeakSitsAtTheTonesBin) {
  TestServer server(icyServer(readFixture(GetParam().fixture), 8192));
  const HSTREAM h = BASS_StreamCreateURL(server.url().c_str(), 0, 0, nullptr, nullptr);
  ASSERT_NE(h, 0u);
  float bins[1024];
  EXPECT_EQ(BASS_ChannelGetData(h, bins, BASS_DATA_FFT2048), 0u);  // nothing heard yet
  ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(BASS_ChannelGetData(h, bins, BASS_DATA_FFT2048), 2048u * 2 * sizeof(float));
  float top = 0;
  for (float b : bins) top = std::max(top, b);
  if (GetParam().peak) {
    EXPECT_EQ(peakBin(bins), *GetParam().peak);
    EXPECT_NEAR(top, 0.25, 0.08);  // half-scale sine → about 0.25
  } else {
    EXPECT_LT(top, 0.01f);
  }
  BASS_StreamFree(h);
}

INSTANTIATE_TEST_SUITE_P(Tones, FftTest,
                         ::testing::Values(FftCase{"tone1k.mp3", int(std::lround(1000 * 2048 / 44100.0))},
                                           FftCase{"tone10k.mp3", int(std::lround(10000 * 2048 / 44100.0))},
                                           FftCase{"tone1k-22k-mono.mp3", int(std::lround(1000 * 2048 / 44100.0))},
                                           FftCase{"silence.mp3", std::nullopt}),
                         [](const auto &info) {
                           std::string name = info.param.fixture;
                           name.resize(name.find('.'));
                           std::erase(name, '-');
                           return name;
                         });

TEST_F(EngineTest, ChannelsAskedInTurnEachShowTheirOwnSpectrum) {
  // The display asks far more often than the heard position moves; whatever
  // is kept between calls must not hand one channel's picture to another.
  TestServer low(icyServer(readFixture("tone1k.mp3"), 8192));
  TestServer high(icyServer(readFixture("tone10k.mp3"), 8192));
  const HSTREAM a = BASS_StreamCreateURL(low.url().c_str(), 0, 0, nullptr, nullptr);
  const HSTREAM b = BASS_StreamCreateURL(high.url().c_str(), 0, 0, nullptr, nullptr);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  ASSERT_TRUE(BASS_ChannelPlay(a, FALSE));
  ASSERT_TRUE(BASS_ChannelPlay(b, FALSE));
  std::this_thread::sleep_for(400ms);
  float bins[1024];
  for (int round = 0; round < 20; ++round) {
    ASSERT_EQ(BASS_ChannelGetData(a, bins, BASS_DATA_FFT2048), 2048u * 2 * sizeof(float));
    EXPECT_EQ(peakBin(bins), int(std::lround(1000 * 2048 / 44100.0))) << "round " << round;
    ASSERT_EQ(BASS_ChannelGetData(b, bins, BASS_DATA_FFT2048), 2048u * 2 * sizeof(float));
    EXPECT_EQ(peakBin(bins), int(std::lround(10000 * 2048 / 44100.0))) << "round " << round;
    std::this_thread::sleep_for(5ms);
  }
  BASS_StreamFree(a);
  BASS_StreamFree(b);
}

TEST_F(EngineTest, InvalidHandleLeavesTheBufferAlone) {
  float bins[1024];
  std::fill(std::begin(bins), std::end(bins), 7.0f);
  EXPECT_EQ(BASS_ChannelGetData(12345678, bins, BASS_DATA_FFT2048), DWORD(-1));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
  EXPECT_EQ(bins[0], 7.0f);
  EXPECT_EQ(bins[1023], 7.0f);
}

// ---- output state ----------------------------------------------------------------

TEST_F(EngineTest, StoppedOutputRefusesPlayUntilStarted) {
  TestServer server(icyServer(readFixture("tone1k.mp3"), 8192));
  const HSTREAM h = BASS_StreamCreateURL(server.url().c_str(), 0, 0, nullptr, nullptr);
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(BASS_Stop());
  EXPECT_FALSE(BASS_ChannelPlay(h, FALSE));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_START);
  ASSERT_TRUE(BASS_Start());
  EXPECT_TRUE(BASS_ChannelPlay(h, FALSE));
  std::this_thread::sleep_for(300ms);
  float bins[1024];
  BASS_ChannelGetData(h, bins, BASS_DATA_FFT2048);
  EXPECT_EQ(peakBin(bins), 46);
  BASS_StreamFree(h);
}

TEST_F(EngineTest, StopFreesAutoFreeStreamsAndDoesNotResumeOthers) {
  TestServer server(icyServer(readFixture("tone1k.mp3"), 8192));
  const HSTREAM keep = BASS_StreamCreateURL(server.url().c_str(), 0, 0, nullptr, nullptr);
  const HSTREAM gone = BASS_StreamCreateURL(server.url().c_str(), 0, BASS_STREAM_AUTOFREE, nullptr, nullptr);
  ASSERT_NE(keep, 0u);
  ASSERT_NE(gone, 0u);
  EndLog ends;
  BASS_ChannelSetSync(keep, BASS_SYNC_END, 0, &EndLog::proc, &ends);
  ASSERT_TRUE(BASS_ChannelPlay(keep, FALSE));
  ASSERT_TRUE(BASS_ChannelPlay(gone, FALSE));
  std::this_thread::sleep_for(200ms);
  ASSERT_TRUE(BASS_Stop());
  EXPECT_FALSE(BASS_StreamFree(gone));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
  ASSERT_TRUE(BASS_Start());
  std::this_thread::sleep_for(300ms);
  float bins[1024];
  BASS_ChannelGetData(keep, bins, BASS_DATA_FFT2048);
  const QWORD before = BASS_StreamGetFilePosition(keep, BASS_FILEPOS_CURRENT);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(BASS_StreamGetFilePosition(keep, BASS_FILEPOS_CURRENT), before) << "a stopped stream kept playing";
  EXPECT_EQ(ends.ends.load(), 0);  // Stop is not an end
  EXPECT_TRUE(BASS_StreamFree(keep));
}

TEST(EngineState, CallsBeforeInitFailWithInit) {
  EXPECT_FALSE(BASS_Free());
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
  EXPECT_FALSE(BASS_Start());
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
  EXPECT_FALSE(BASS_Stop());
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
  EXPECT_FALSE(BASS_SetVolume(0.5f));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
  EXPECT_EQ(BASS_StreamCreateURL("http://127.0.0.1:1/", 0, 0, nullptr, nullptr), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
  // Options work before Init.
  EXPECT_TRUE(BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 5000));
  EXPECT_FALSE(BASS_SetConfig(9999, 1));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLTYPE);
  EXPECT_FALSE(BASS_SetConfigPtr(BASS_CONFIG_NET_TIMEOUT, "x"));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLTYPE);
  EXPECT_EQ(BASS_GetVersion() >> 16, 0x0204u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
}

TEST_F(EngineTest, SecondInitIsAlready) {
  EXPECT_FALSE(BASS_Init(0, 44100, 0, nullptr, nullptr));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
}

TEST_F(EngineTest, VolumeAcceptsOnlyZeroToOne) {
  const struct {
    float volume;
    bool ok;
  } cases[] = {{0.0f, true}, {0.5f, true}, {1.0f, true}, {-0.01f, false}, {1.01f, false}, {NAN, false}, {INFINITY, false}};
  for (const auto &c : cases) {
    EXPECT_EQ(BASS_SetVolume(c.volume), c.ok ? TRUE : FALSE) << c.volume;
    EXPECT_EQ(BASS_ErrorGetCode(), c.ok ? BASS_OK : BASS_ERROR_ILLPARAM) << c.volume;
  }
}

TEST_F(EngineTest, ErrorCodesBelongToTheCallingThread) {
  EXPECT_FALSE(BASS_StreamFree(424242));
  std::atomic<int> other{-2};
  std::thread([&] {
    BASS_GetVersion();
    other = BASS_ErrorGetCode();
  }).join();
  EXPECT_EQ(other.load(), BASS_OK);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

TEST_F(EngineTest, CpuLoadIsReportedWhilePlayingAndZeroWhenIdle) {
  EXPECT_EQ(BASS_GetCPU(), 0.0f);
  TestServer server(icyServer(readFixture("tone1k.mp3"), 8192));
  const HSTREAM h = BASS_StreamCreateURL(server.url().c_str(), 0, 0, nullptr, nullptr);
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
  ASSERT_TRUE(eventually([] { return BASS_GetCPU() > 0.0f; }, 3s));
  EXPECT_LT(BASS_GetCPU(), 100.0f);
  BASS_StreamFree(h);
  EXPECT_TRUE(eventually([] { return BASS_GetCPU() == 0.0f; }, 3s));
}

// A station that sends a 4 KB title after every audio byte: the engine keeps
// a bounded number of titles, and fires title syncs no more often than the
// decoded audio they belong to (one MP3 frame, 26 ms, at the very least).
TEST_F(EngineTest, TitleFloodKeepsMemoryAndSyncsBounded) {
  const std::string audio = readFixture("tone1k.mp3");  // 4 s
  const std::string title = "StreamTitle='" + std::string(4080 - 15, 'x') + "';";
  const std::string block = icyMetaBlock(title);
  TestServer server([&](Connection &c) {
    if (c.readRequest().empty() || !c.send("ICY 200 OK\r\nicy-br:128\r\nicy-metaint:1\r\n\r\n")) return;
    std::string piece;
    for (size_t at = 0; at < audio.size(); at += 16) {
      piece.clear();
      for (size_t i = at; i < std::min(at + 16, audio.size()); ++i) piece += audio[i] + block;
      if (!c.send(piece)) return;
    }
  });
  const long before = residentKiB();
  const HSTREAM h = BASS_StreamCreateURL(server.url().c_str(), 0, 0, nullptr, nullptr);
  ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
  std::atomic<int> titles{0};
  BASS_ChannelSetSync(
      h, BASS_SYNC_META, 0, [](HSYNC, DWORD, DWORD, void *n) { ++*static_cast<std::atomic<int> *>(n); }, &titles);
  EndLog ends;
  BASS_ChannelSetSync(h, BASS_SYNC_END, 0, &EndLog::proc, &ends);
  ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
  long most = before;
  const auto started = Clock::now();
  while (ends.ends.load() == 0 && Clock::now() - started < 20s) {
    most = std::max(most, residentKiB());
    std::this_thread::sleep_for(20ms);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  EXPECT_EQ(ends.ends.load(), 1);
#if !defined(__SANITIZE_ADDRESS__)
  // Unbounded, the titles alone would take 64000 x 4 KB = 256 MB.
  // (AddressSanitizer keeps every freed title resident in its quarantine,
  // so the figure only means something in a normal build.)
  EXPECT_LT(most - before, 40 * 1024) << "resident memory grew by " << (most - before) << " KiB";
#endif
  EXPECT_GT(titles.load(), 0);
  EXPECT_LE(titles.load(), int(seconds * 1000 / 26) + 1) << "in " << seconds << " s";
  EXPECT_STREQ(BASS_ChannelGetTags(h, BASS_TAG_META), title.c_str());
  BASS_StreamFree(h);
}

// ---- handle lifetime under pressure ------------------------------------------------

struct FreeFromCallback {
  std::atomic<HSTREAM> handle{0};
  std::atomic<int> result{0};  // 1 freed, -1 refused
  std::atomic<bool> calledAfterFree{false};
  static void proc(const void *buffer, DWORD length, void *user) {
    auto *self = static_cast<FreeFromCallback *>(user);
    if (self->result.load() != 0) self->calledAfterFree = true;
    if (!buffer || length == 0) return;
    const HSTREAM h = self->handle.exchange(0);
    if (h != 0) self->result = BASS_StreamFree(h) ? 1 : -1;
  }
};

TEST_F(EngineTest, ThousandCreateFreeCyclesLeaveNothingBehind) {
  std::string audio;
  for (int i = 0; i < 4; ++i) audio += readFixture("tone1k.mp3");
  TestServer server(icyServer(audio, 8192, [](size_t i) { return "StreamTitle='" + std::to_string(i) + "';"; },
                              64000));
  std::vector<HSTREAM> seen;
  int fromCallback = 0;
  for (int i = 0; i < 1000; ++i) {
    FreeFromCallback cb;
    const int mode = i % 4;
    const HSTREAM h = BASS_StreamCreateURL(server.url().c_str(), 0, BASS_STREAM_AUTOFREE | BASS_STREAM_STATUS,
                                           mode == 2 ? &FreeFromCallback::proc : nullptr, &cb);
    ASSERT_NE(h, 0u) << "cycle " << i << " error " << BASS_ErrorGetCode();
    ASSERT_TRUE(seen.empty() || h > seen.back()) << "handle reused";
    seen.push_back(h);
    switch (mode) {
      case 0:  // free while the download runs
        ASSERT_TRUE(BASS_StreamFree(h));
        break;
      case 1:  // free while playing, with readers on another thread
      {
        BASS_ChannelPlay(h, FALSE);
        std::thread reader([h] {
          float bins[1024];
          for (int k = 0; k < 20; ++k) {
            BASS_ChannelGetData(h, bins, BASS_DATA_FFT2048);
            BASS_StreamGetFilePosition(h, BASS_FILEPOS_BUFFER);
            BASS_ChannelGetTags(h, BASS_TAG_META);
          }
        });
        ASSERT_TRUE(BASS_StreamFree(h));
        reader.join();
        break;
      }
      case 2:  // free from inside the download callback
        cb.handle = h;
        ASSERT_TRUE(eventually([&] { return cb.result.load() != 0; }, 5s)) << "cycle " << i;
        ASSERT_EQ(cb.result.load(), 1);
        ++fromCallback;
        std::this_thread::sleep_for(1ms);
        EXPECT_FALSE(cb.calledAfterFree.load());
        break;
      default:  // let Free take it
        break;
    }
    if (mode != 3) {
      EXPECT_FALSE(BASS_StreamFree(h));
      EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    }
    if (mode == 3 && i % 40 == 3) {
      // BASS_Free releases whatever is still open.
      ASSERT_TRUE(BASS_Free());
      ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    }
  }
  EXPECT_EQ(fromCallback, 250);
}

}  // namespace
}  // namespace kirasol::audio::test
