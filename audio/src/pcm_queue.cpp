#include "pcm_queue.h"

#include <algorithm>
#include <cstring>

namespace kirasol::audio {

bool PcmQueue::push(const float *frames, size_t count) {
  size_t n = count * 2;
  std::unique_lock lock(mutex_);
  while (n > 0) {
    room_.wait(lock, [&] { return cancelled_ || size_ < data_.size(); });
    if (size_ + n > data_.size() && size_ > data_.size() / 2) {
      room_.wait(lock, [&] { return cancelled_ || size_ <= data_.size() / 2; });
      if (cancelled_) return false;
    }
    if (cancelled_) return false;
    const size_t tail = (head_ + size_) % data_.size();
    const size_t chunk = std::min({n, data_.size() - size_, data_.size() - tail});
    std::memcpy(data_.data() + tail, frames, chunk * sizeof(float));
    size_ += chunk;
    frames += chunk;
    n -= chunk;
  }
  return true;
}

size_t PcmQueue::pop(float *out, size_t count) {
  std::lock_guard lock(mutex_);
  const size_t n = std::min(count * 2, size_);
  size_t done = 0;
  while (done < n) {
    const size_t chunk = std::min(n - done, data_.size() - head_);
    std::memcpy(out + done, data_.data() + head_, chunk * sizeof(float));
    head_ = (head_ + chunk) % data_.size();
    done += chunk;
  }
  size_ -= n;
  // Wake the decoder only once half the queue is free, so that it decodes in
  // bursts instead of waking for every frame the mixer takes.
  if (n > 0 && size_ <= data_.size() / 2) room_.notify_all();
  return n / 2;
}

size_t PcmQueue::frames() const {
  std::lock_guard lock(mutex_);
  return size_ / 2;
}

void PcmQueue::finish() {
  std::lock_guard lock(mutex_);
  finished_ = true;
}

void PcmQueue::cancel() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
  room_.notify_all();
}

bool PcmQueue::drained() const {
  std::lock_guard lock(mutex_);
  return finished_ && size_ == 0;
}

}  // namespace kirasol::audio
