#pragma once
// Where the mix goes: the sound card through PortAudio, or the "no sound"
// device that throws the audio away at real-time pace. Both read interleaved
// stereo floats from the same lock-free ring, so the mixer does not care.

#include "spsc_ring.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace kirasol::audio {

class OutputDevice {
 public:
  explicit OutputDevice(int rate) : rate_(rate), ring_(size_t(rate) * 2) {}  // one second of stereo
  virtual ~OutputDevice() = default;
  OutputDevice(const OutputDevice &) = delete;
  OutputDevice &operator=(const OutputDevice &) = delete;

  virtual bool start() = 0;
  virtual void stop() = 0;  // on return the ring is no longer read
  // Frames between leaving the ring and reaching the listener's ears.
  virtual uint64_t latencyFrames() const = 0;

  int rate() const { return rate_; }
  SpscFloatRing &ring() { return ring_; }
  // Frames taken from the ring so far (underrun silence does not count).
  uint64_t consumedFrames() const { return consumed_.load(std::memory_order_acquire); }

 protected:
  // Called from the consuming side only.
  size_t consume(float *dst, size_t frames) {
    const size_t got = ring_.read(dst, frames * 2) / 2;
    consumed_.fetch_add(got, std::memory_order_release);
    return got;
  }

 private:
  int rate_;
  SpscFloatRing ring_;
  std::atomic<uint64_t> consumed_{0};
};

// device −1 = default output, n ≥ 1 = the n-th PortAudio output device.
// On failure sets `error` to a BASS error code and returns null.
std::unique_ptr<OutputDevice> openPortAudioOutput(int device, int rate, int &error);
std::unique_ptr<OutputDevice> openSilentOutput(int rate);

}  // namespace kirasol::audio
