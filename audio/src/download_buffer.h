#pragma once
// The rolling download buffer between a stream's download thread and its
// decoder: a fixed number of bytes, with back-pressure (the writer waits while
// it is full) and metadata markers at audio byte positions, so the decoder can
// stop exactly where a metadata block was cut out of the stream.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace kirasol::audio {

struct MetaMarker {
  uint64_t audioPos;  // audio bytes of the stream before the block
  std::string text;
};

class DownloadBuffer {
 public:
  // Bytes of title text kept waiting in the buffer at most. A station that
  // sends titles faster than they can matter (one per audio byte) would
  // otherwise fill memory with them: over the budget, the newest waiting
  // title gives way to the one arriving.
  static constexpr size_t kMarkerBudget = 64 * 1024;

  explicit DownloadBuffer(size_t capacity);

  size_t capacity() const { return data_.size(); }
  size_t held() const;
  uint64_t written() const;  // audio bytes ever written
  uint64_t read() const;     // audio bytes ever taken

  // Writes all bytes, waiting while the buffer is full. False when the buffer
  // was cancelled before everything fitted.
  bool write(const uint8_t *p, size_t n);
  // Only the latest title at one position is kept; see kMarkerBudget.
  void addMarker(MetaMarker marker);
  // No more data will come; readers drain what is left.
  void finish();
  // Wakes every waiting writer and reader for good.
  void cancel();

  // Takes up to `max` bytes but never past the next marker position; waits
  // while empty. Returns 0 only when finished and drained or cancelled.
  size_t take(uint8_t *out, size_t max);
  // Markers at or before audio position `upTo`, oldest first, removed. The
  // reader asks before decoding what take() returned (for a marker that
  // arrived while it waited) and again after.
  std::vector<MetaMarker> markersUpTo(uint64_t upTo);

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<uint8_t> data_;
  size_t head_ = 0;   // next read index
  size_t size_ = 0;
  uint64_t written_ = 0;
  uint64_t read_ = 0;
  std::deque<MetaMarker> markers_;
  size_t markerBytes_ = 0;
  bool finished_ = false;
  bool cancelled_ = false;
};

}  // namespace kirasol::audio
