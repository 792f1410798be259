#pragma once
// A single-producer single-consumer ring without locks: audio device callbacks
// read from it (output) or write to it (capture), so neither side may ever
// block or allocate.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <vector>

namespace kirasol::audio {

template <typename T>
class SpscRing {
 public:
  explicit SpscRing(size_t capacity) : data_(capacity) {}

  size_t capacity() const { return data_.size(); }
  size_t readable() const {
    return writePos_.load(std::memory_order_acquire) - readPos_.load(std::memory_order_acquire);
  }
  size_t writable() const { return data_.size() - readable(); }

  // Producer side. Writes as much as fits; returns the count written.
  size_t write(const T *src, size_t n) {
    const size_t w = writePos_.load(std::memory_order_relaxed);
    const size_t r = readPos_.load(std::memory_order_acquire);
    const size_t count = std::min(n, data_.size() - (w - r));
    const size_t at = w % data_.size();
    const size_t part = std::min(count, data_.size() - at);  // up to the end, then from the start
    std::copy_n(src, part, data_.begin() + at);
    std::copy_n(src + part, count - part, data_.begin());
    writePos_.store(w + count, std::memory_order_release);
    return count;
  }

  // Consumer side. Reads up to n values (dst may be null to discard them).
  size_t read(T *dst, size_t n) {
    const size_t r = readPos_.load(std::memory_order_relaxed);
    const size_t w = writePos_.load(std::memory_order_acquire);
    const size_t count = std::min(n, w - r);
    if (dst) {
      const size_t at = r % data_.size();
      const size_t part = std::min(count, data_.size() - at);
      std::copy_n(data_.begin() + at, part, dst);
      std::copy_n(data_.begin(), count - part, dst + part);
    }
    readPos_.store(r + count, std::memory_order_release);
    return count;
  }

  // Only while neither side runs.
  void clear() { readPos_.store(writePos_.load()); }

 private:
  std::vector<T> data_;
  std::atomic<size_t> writePos_{0};
  std::atomic<size_t> readPos_{0};
};

using SpscFloatRing = SpscRing<float>;

}  // namespace kirasol::audio
