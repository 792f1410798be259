#include "output_device.h"

#include <algorithm>
#include <mutex>

namespace kirasol::audio {
namespace {

// The "no sound" device: a clock, no thread. What was written is "heard" at
// real-time pace; time when nothing was queued is lost, as with a sound card
// that ran dry.
class SilentOutput final : public OutputDevice {
 public:
  explicit SilentOutput(int rate) : OutputDevice(rate) {}

  bool start() override {
    std::lock_guard lock(mutex_);
    if (!running_) {
      running_ = true;
      last_ = Clock::now();
    }
    return true;
  }
  void stop() override {
    std::lock_guard lock(mutex_);
    advance();
    running_ = false;
    written_ = heard_;
  }
  size_t writableFrames() override {
    std::lock_guard lock(mutex_);
    advance();
    const uint64_t queued = written_ - heard_;
    return queued >= ahead() ? 0 : size_t(ahead() - queued);
  }
  void write(const float *, size_t count) override {
    std::lock_guard lock(mutex_);
    advance();
    written_ += count;
  }
  uint64_t writtenFrames() override {
    std::lock_guard lock(mutex_);
    return written_;
  }
  uint64_t heardFrames() override {
    std::lock_guard lock(mutex_);
    advance();
    return heard_;
  }
  Clock::time_point roomAt(size_t frames) override {
    std::lock_guard lock(mutex_);
    advance();
    const uint64_t queued = written_ - heard_;
    const uint64_t room = queued >= ahead() ? 0 : ahead() - queued;
    if (room >= frames || !running_) return Clock::now();
    // Whole milliseconds, rounded up: waking early would find no room yet.
    const auto ms = ((frames - room) * 1000 + uint64_t(rate()) - 1) / uint64_t(rate());
    return Clock::now() + std::chrono::milliseconds(ms);
  }

 private:
  // How far writing may run ahead of hearing, as a sound card's buffer.
  uint64_t ahead() const { return uint64_t(rate()) / 4; }

  void advance() {
    const auto now = Clock::now();
    if (running_) {
      budget_ += std::chrono::duration<double>(now - last_).count() * rate();
      const uint64_t due = uint64_t(budget_);
      const uint64_t got = std::min(due, written_ - heard_);
      heard_ += got;
      budget_ = got < due ? 0.0 : budget_ - double(got);
    }
    last_ = now;
  }

  std::mutex mutex_;
  bool running_ = false;
  Clock::time_point last_ = Clock::now();
  double budget_ = 0.0;
  uint64_t written_ = 0;
  uint64_t heard_ = 0;
};

}  // namespace

std::unique_ptr<OutputDevice> openSilentOutput(int rate) { return std::make_unique<SilentOutput>(rate); }

}  // namespace kirasol::audio
