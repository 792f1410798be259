#pragma once
// Shared set-up for tests that drive the engine through its C calls: the "no
// sound" device (real-time pace, nothing audible) and quick network options.

#include "bass.h"
#include "test_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace kirasol::audio::test {

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 3000);
    BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 5000);
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
    BASS_SetConfigPtr(BASS_CONFIG_NET_PROXY, nullptr);
  }
  void TearDown() override { BASS_Free(); }
};

// Polls `done` every 5 ms until it holds or `timeout` passes.
inline bool eventually(const std::function<bool()> &done, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Counts END syncs.
struct EndLog {
  std::atomic<int> ends{0};
  static void proc(HSYNC, DWORD, DWORD, void *user) { ++static_cast<EndLog *>(user)->ends; }
};

// Handlers for the usual kinds of server.
inline TestServer::Handler icyServer(std::string audio, size_t metaint,
                                     std::function<std::string(size_t)> titles = nullptr, size_t pace = 0) {
  return [audio = std::move(audio), metaint, titles = std::move(titles), pace](Connection &c) {
    if (c.readRequest().empty()) return;
    std::string head = "ICY 200 OK\r\nicy-name:Test Station\r\nicy-genre:Test\r\nicy-br:128\r\n";
    std::string body = audio;
    if (metaint > 0) {
      head += "icy-metaint:" + std::to_string(metaint) + "\r\n";
      body = withIcyMetadata(audio, metaint, titles ? titles : [](size_t) { return std::string(); });
    }
    head += "\r\n";
    if (!c.send(head)) return;
    if (pace > 0)
      c.sendPaced(body, pace);
    else
      c.send(body);
  };
}

inline TestServer::Handler httpServer(std::string audio) {
  return [audio = std::move(audio)](Connection &c) {
    if (c.readRequest().empty()) return;
    c.send("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\nicy-name:Icecast Test\r\nicy-br:128\r\n\r\n");
    c.send(audio);
  };
}

inline TestServer::Handler fixedResponse(std::string response) {
  return [response = std::move(response)](Connection &c) {
    if (c.readRequest().empty()) return;
    c.send(response);
  };
}

}  // namespace kirasol::audio::test
