#pragma once
// Where the mix goes: the desktop's sound server (libpulse), or the "no
// sound" device that throws the audio away at real-time pace. The mixer
// writes as much as the device has room for and sleeps until there is room
// again (the device wakes it) or until a sync is due.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace kirasol::audio {

// The mixer's alarm clock: anything that may give the mixer work (room in
// the output, a stream played or given its first audio, a start or a quit)
// bumps it; the mixer notes the count before looking for work and sleeps
// until it changes, so no bump is ever lost.
class MixerWake {
 public:
  using Clock = std::chrono::steady_clock;
  void bump() {
    {
      std::lock_guard lock(mutex_);
      ++count_;
    }
    changed_.notify_all();
  }
  uint64_t count() {
    std::lock_guard lock(mutex_);
    return count_;
  }
  void waitChange(uint64_t seen, Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return count_ != seen; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t count_ = 0;
};

class OutputDevice {
 public:
  using Clock = std::chrono::steady_clock;
  explicit OutputDevice(int rate) : rate_(rate) {}
  virtual ~OutputDevice() = default;
  OutputDevice(const OutputDevice &) = delete;
  OutputDevice &operator=(const OutputDevice &) = delete;

  virtual bool start() = 0;
  // Drops what was written but not heard; the counts go on from what was.
  virtual void stop() = 0;
  // Frames (interleaved stereo floats) that write() takes now.
  virtual size_t writableFrames() = 0;
  virtual void write(const float *frames, size_t count) = 0;
  // Frames written since the device opened, and how many of them have
  // reached the listener.
  virtual uint64_t writtenFrames() = 0;
  virtual uint64_t heardFrames() = 0;
  // When room for `frames` will be there without a wake-up from the device
  // (a device that wakes the mixer itself says never).
  virtual Clock::time_point roomAt(size_t) { return Clock::time_point::max(); }
  // The mixer has nothing to play.
  virtual void idle() {}

  int rate() const { return rate_; }

 private:
  int rate_;
};

// device −1 = the server's default output, n ≥ 1 = its n-th sink. On failure
// sets `error` to a BASS error code and returns null.
std::unique_ptr<OutputDevice> openPulseOutput(int device, int rate, MixerWake &wake, int &error);
std::unique_ptr<OutputDevice> openSilentOutput(int rate);

}  // namespace kirasol::audio
