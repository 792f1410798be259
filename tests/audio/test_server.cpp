#include "test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace kirasol::audio::test {

std::string Connection::readRequest() {
  std::string head;
  char c;
  while (!stopping_ && head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    if (recv(fd_, &c, 1, 0) != 1) return {};
    head += c;
  }
  if (onRequest_) onRequest_(head);
  return head;
}

bool Connection::send(std::string_view bytes) {
  while (!bytes.empty()) {
    if (stopping_) return false;
    pollfd p{fd_, POLLOUT, 0};
    const int ready = poll(&p, 1, 50);
    if (ready == 0) continue;
    if (ready < 0 || (p.revents & (POLLERR | POLLHUP))) return false;
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(size_t(n));
  }
  return true;
}

bool Connection::sendPaced(std::string_view bytes, size_t bytesPerSecond, size_t chunk) {
  const auto start = std::chrono::steady_clock::now();
  size_t sent = 0;
  while (sent < bytes.size()) {
    const size_t n = std::min(chunk, bytes.size() - sent);
    if (!send(bytes.substr(sent, n))) return false;
    sent += n;
    const auto due = start + std::chrono::microseconds(uint64_t(sent) * 1000000 / bytesPerSecond);
    while (!stopping_ && std::chrono::steady_clock::now() < due) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return !stopping_;
}

void Connection::holdOpen() {
  char buf[256];
  while (!stopping_) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    if (recv(fd_, buf, sizeof buf, 0) <= 0) return;
  }
}

TestServer::TestServer(Handler handler) : handler_(std::move(handler)) {
  listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (bind(listenFd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(listenFd_, 64) != 0)
    throw std::runtime_error("test server cannot listen");
  socklen_t len = sizeof addr;
  getsockname(listenFd_, reinterpret_cast<sockaddr *>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

TestServer::~TestServer() {
  stopping_ = true;
  acceptThread_.join();
  {
    std::lock_guard lock(mutex_);
    for (int fd : fds_) shutdown(fd, SHUT_RDWR);
  }
  for (auto &w : workers_) w.join();
  close(listenFd_);
}

std::string TestServer::url(const std::string &path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> TestServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void TestServer::acceptLoop() {
  while (!stopping_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const int fd = accept(listenFd_, nullptr, nullptr);
    if (fd < 0) continue;
    ++connections_;
    std::lock_guard lock(mutex_);
    // Reap finished connections so long runs do not pile up threads and fds.
    for (size_t i = 0; i < workers_.size();) {
      if (done_[i]->load()) {
        workers_[i].join();
        workers_.erase(workers_.begin() + long(i));
        done_.erase(done_.begin() + long(i));
      } else {
        ++i;
      }
    }
    fds_.push_back(fd);
    auto done = std::make_shared<std::atomic<bool>>(false);
    done_.push_back(done);
    workers_.emplace_back([this, fd, done] {
      Connection c(fd, stopping_, [this](const std::string &head) {
        std::lock_guard l(mutex_);
        requests_.push_back(head);
      });
      handler_(c);
      std::lock_guard l(mutex_);
      std::erase(fds_, fd);
      close(fd);
      *done = true;
    });
  }
}

uint16_t refusedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
  close(fd);  // bound but never listening: the port is now free and refused
  return ntohs(addr.sin_port);
}

std::string icyMetaBlock(std::string_view text) {
  const size_t units = (text.size() + 15) / 16;
  std::string block(1, char(units));
  block += text;
  block.resize(1 + units * 16, '\0');
  return block;
}

std::string withIcyMetadata(std::string_view audio, size_t metaint, const std::function<std::string(size_t)> &titles) {
  std::string out;
  size_t block = 0;
  for (size_t pos = 0; pos < audio.size(); pos += metaint) {
    const auto run = audio.substr(pos, metaint);
    out += run;
    if (run.size() == metaint) out += icyMetaBlock(titles(block++));
  }
  return out;
}

std::string readFixture(const std::string &name) {
  std::ifstream in(std::string(KIRASOL_SOURCE_DIR) + "/tests/data/audio/" + name, std::ios::binary);
  if (!in) throw std::runtime_error("missing fixture " + name);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace kirasol::audio::test
