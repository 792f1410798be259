#pragma once
// Network options (BASS_SetConfig / BASS_SetConfigPtr). A stream copies them
// when it is created, so later changes affect only later streams.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace kirasol::audio {

struct NetConfig {
  uint32_t timeoutMs = 5000;
  uint32_t bufferMs = 5000;
  uint32_t prebufPercent = 75;
  uint32_t playlist = 0;
  uint32_t readTimeoutMs = 0;               // 0 = wait for data forever
  std::optional<std::string> agent = std::string("Kirasol Radio/1.1");  // nothing = no User-Agent
  std::optional<std::string> proxy;         // nothing = direct connection
};

class NetConfigStore {
 public:
  NetConfig snapshot() const {
    std::lock_guard lock(mutex_);
    return config_;
  }
  template <typename F>
  void update(F &&change) {
    std::lock_guard lock(mutex_);
    change(config_);
  }

 private:
  mutable std::mutex mutex_;
  NetConfig config_;
};

}  // namespace kirasol::audio
