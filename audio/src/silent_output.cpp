#include "output_device.h"

#include "error_state.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kirasol::audio {
namespace {

// The "no sound" device: a clock thread that takes the mix out of the ring as
// fast as a sound card would play it.
class SilentOutput final : public OutputDevice {
 public:
  explicit SilentOutput(int rate) : OutputDevice(rate), thread_([this] { run(); }) {}
  ~SilentOutput() override {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  bool start() override {
    std::lock_guard lock(mutex_);
    running_ = true;
    wake_.notify_all();
    return true;
  }
  void stop() override {
    std::lock_guard lock(mutex_);
    running_ = false;
  }
  uint64_t latencyFrames() const override { return 0; }

 private:
  void run() {
    markEngineThread();
    using clock = std::chrono::steady_clock;
    std::unique_lock lock(mutex_);
    double budget = 0.0;
    auto last = clock::now();
    while (!quit_) {
      if (!running_) {
        wake_.wait(lock, [&] { return quit_ || running_; });
        budget = 0.0;
        last = clock::now();
        continue;
      }
      // The mutex is held while consuming so that stop() returns only after
      // the ring is left alone.
      const auto now = clock::now();
      budget += std::chrono::duration<double>(now - last).count() * rate();
      last = now;
      const size_t due = size_t(budget);
      const size_t got = consume(nullptr, due);
      budget -= double(got);
      if (got < due) budget = 0.0;  // an underrun is lost time, not a debt
      wake_.wait_for(lock, std::chrono::milliseconds(10), [&] { return quit_ || !running_; });
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool running_ = false;
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<OutputDevice> openSilentOutput(int rate) { return std::make_unique<SilentOutput>(rate); }

}  // namespace kirasol::audio
