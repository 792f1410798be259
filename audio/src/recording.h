#pragma once
// The recording channel: a capture stream on the sound server delivering
// 16-bit samples about every 100 ms into a lock-free ring, and an engine
// thread that hands them to the RECORDPROC and keeps the newest samples for
// the FFT.

#include "bass.h"
#include "pulse_connection.h"
#include "spsc_ring.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kirasol::audio {

class Recording {
 public:
  Recording(HRECORD handle, int rate, int channels, RECORDPROC *proc, void *user);
  ~Recording();
  Recording(const Recording &) = delete;
  Recording &operator=(const Recording &) = delete;

  // Opens the capture stream on `source` (nothing = the default input);
  // BASS_OK or an error code.
  int open(std::shared_ptr<PulseConnection> connection, const std::optional<std::string> &source, bool paused);
  // Starts (or restarts) capturing; true when running afterwards.
  bool resume();
  // Stops the capture and the delivery thread; never on the delivery thread.
  void close();

  HRECORD handle() const { return handle_; }
  int channels() const { return channels_; }
  bool running() const { return running_; }
  // The newest captured samples, channels averaged, as floats (newest last).
  // `first` receives the capture index of the first one: the same first index
  // and count always mean the same samples.
  size_t recentMono(float *out, size_t count, uint64_t *first = nullptr) const;

 private:
  int connectStream(const std::optional<std::string> &source);
  void onCapture();  // on the sound server connection's thread
  void deliveryMain();
  void pauseCapture();
  bool setCorked(bool corked);

  const HRECORD handle_;
  const int rate_;
  const int channels_;
  RECORDPROC *const proc_;
  void *const user_;
  std::shared_ptr<PulseConnection> connection_;
  pa_stream *stream_ = nullptr;  // guarded by the connection's lock
  SpscRing<int16_t> ring_;

  std::mutex controlMutex_;  // start/stop of the capture stream
  std::atomic<bool> running_{false};

  std::mutex threadMutex_;
  std::condition_variable wake_;
  uint64_t arrivals_ = 0;  // capture callbacks so far
  bool quit_ = false;
  std::thread thread_;

  static constexpr size_t kHistory = 2048;
  mutable std::mutex historyMutex_;
  std::vector<float> history_ = std::vector<float>(kHistory);
  uint64_t historyCount_ = 0;
};

}  // namespace kirasol::audio
