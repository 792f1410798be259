#pragma once
// Decoded stereo frames on their way from a stream's decoder thread to the
// mixer. The decoder waits while it is full; the mixer never waits.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace kirasol::audio {

class PcmQueue {
 public:
  explicit PcmQueue(size_t capacityFrames) : data_(capacityFrames * 2) {}

  // Appends interleaved stereo frames, waiting for room. False when cancelled.
  bool push(const float *frames, size_t count);
  // Copies up to `count` frames into `out`; returns how many.
  size_t pop(float *out, size_t count);
  size_t frames() const;
  void finish();
  void cancel();
  // Finished and nothing left.
  bool drained() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable room_;
  std::vector<float> data_;
  size_t head_ = 0;  // in floats
  size_t size_ = 0;  // in floats
  bool finished_ = false;
  bool cancelled_ = false;
};

}  // namespace kirasol::audio
