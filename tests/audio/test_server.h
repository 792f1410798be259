#pragma once
// A tiny TCP server on 127.0.0.1 for the engine tests. It runs on its own
// threads (the engine's calls block the test thread) and hands every accepted
// connection to a handler that scripts the server's side of the exchange.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kirasol::audio::test {

class Connection {
 public:
  Connection(int fd, const std::atomic<bool> &stopping, std::function<void(const std::string &)> onRequest)
      : fd_(fd), stopping_(stopping), onRequest_(std::move(onRequest)) {}
  // The request head (up to the empty line); empty when the peer left.
  std::string readRequest();
  // Sends everything; false once the peer has gone or the server stops.
  bool send(std::string_view bytes);
  // Sends in pieces of `chunk` bytes so that `bytesPerSecond` is not exceeded.
  bool sendPaced(std::string_view bytes, size_t bytesPerSecond, size_t chunk = 1024);
  // Waits until the peer closes or the server stops (a silent server).
  void holdOpen();
  bool stopping() const { return stopping_; }

 private:
  int fd_;
  const std::atomic<bool> &stopping_;
  std::function<void(const std::string &)> onRequest_;
};

class TestServer {
 public:
  using Handler = std::function<void(Connection &)>;
  explicit TestServer(Handler handler);
  ~TestServer();
  TestServer(const TestServer &) = delete;
  TestServer &operator=(const TestServer &) = delete;

  uint16_t port() const { return port_; }
  std::string url(const std::string &path = "/") const;
  int connectionCount() const { return connections_; }
  // The request heads received so far.
  std::vector<std::string> requests() const;

 private:
  void acceptLoop();

  Handler handler_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<int> fds_;
  std::vector<std::thread> workers_;
  std::vector<std::shared_ptr<std::atomic<bool>>> done_;
  std::vector<std::string> requests_;
  std::thread acceptThread_;
};

// A port on 127.0.0.1 where nothing listens (connections are refused).
uint16_t refusedPort();

// The stream with ICY metadata inserted every `metaint` audio bytes; block i
// carries titles(i), an empty text giving an empty block (length byte 0).
std::string withIcyMetadata(std::string_view audio, size_t metaint, const std::function<std::string(size_t)> &titles);
// One metadata block: length byte and text padded with NULs to 16-byte units.
std::string icyMetaBlock(std::string_view text);

std::string readFixture(const std::string &name);  // tests/data/audio/<name>

}  // namespace kirasol::audio::test
