#include "download_buffer.h"

#include <algorithm>
#include <cstring>

namespace kirasol::audio {

DownloadBuffer::DownloadBuffer(size_t capacity) : data_(std::max<size_t>(capacity, 1)) {}

size_t DownloadBuffer::held() const {
  std::lock_guard lock(mutex_);
  return size_;
}

uint64_t DownloadBuffer::written() const {
  std::lock_guard lock(mutex_);
  return written_;
}

uint64_t DownloadBuffer::read() const {
  std::lock_guard lock(mutex_);
  return read_;
}

bool DownloadBuffer::write(const uint8_t *p, size_t n) {
  std::unique_lock lock(mutex_);
  while (n > 0) {
    changed_.wait(lock, [&] { return cancelled_ || size_ < data_.size(); });
    if (cancelled_) return false;
    const size_t tail = (head_ + size_) % data_.size();
    const size_t chunk = std::min({n, data_.size() - size_, data_.size() - tail});
    std::memcpy(data_.data() + tail, p, chunk);
    size_ += chunk;
    written_ += chunk;
    p += chunk;
    n -= chunk;
    changed_.notify_all();
  }
  return true;
}

void DownloadBuffer::addMarker(MetaMarker marker) {
  std::lock_guard lock(mutex_);
  while (!markers_.empty() && (markers_.back().audioPos == marker.audioPos ||
                               markerBytes_ + marker.text.size() > kMarkerBudget)) {
    markerBytes_ -= markers_.back().text.size();
    markers_.pop_back();
  }
  markerBytes_ += marker.text.size();
  markers_.push_back(std::move(marker));
  changed_.notify_all();
}

void DownloadBuffer::finish() {
  std::lock_guard lock(mutex_);
  finished_ = true;
  changed_.notify_all();
}

void DownloadBuffer::cancel() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
  changed_.notify_all();
}

size_t DownloadBuffer::take(uint8_t *out, size_t max) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return cancelled_ || size_ > 0 || finished_; });
  if (cancelled_) return 0;
  size_t n = std::min(max, size_);
  for (const auto &m : markers_) {
    if (m.audioPos > read_) {
      n = std::min<uint64_t>(n, m.audioPos - read_);
      break;
    }
  }
  size_t done = 0;
  while (done < n) {
    const size_t chunk = std::min(n - done, data_.size() - head_);
    std::memcpy(out + done, data_.data() + head_, chunk);
    head_ = (head_ + chunk) % data_.size();
    done += chunk;
  }
  size_ -= n;
  read_ += n;
  changed_.notify_all();
  return n;
}

std::vector<MetaMarker> DownloadBuffer::markersUpTo(uint64_t upTo) {
  std::lock_guard lock(mutex_);
  std::vector<MetaMarker> reached;
  while (!markers_.empty() && markers_.front().audioPos <= upTo) {
    markerBytes_ -= markers_.front().text.size();
    reached.push_back(std::move(markers_.front()));
    markers_.pop_front();
  }
  return reached;
}

}  // namespace kirasol::audio
