#include "player/recorder/mp3_frame_tracker.h"

#include "mp3_frame.h"

#include <algorithm>

namespace kirasol::recorder {

namespace {
// While searching, the bytes kept for the next try: enough for the longest
// frame (1729 bytes) and the header after it.
constexpr std::size_t kWindowKeep = 2048;
constexpr std::size_t kWindowMax = 4096;
}  // namespace

Mp3FrameTracker::Mp3FrameTracker() { window_.reserve(kWindowMax + 8 * 1024); }

void Mp3FrameTracker::reset() {
  mode_ = Mode::InStep;
  everInStep_ = false;
  framesInStep_ = 0;
  frameBytes_ = 0;
  skip_ = 0;
  headerHave_ = 0;
  window_.clear();
  searched_ = 0;
}

bool Mp3FrameTracker::atBoundary() const {
  switch (mode_) {
    case Mode::InStep: return skip_ == 0 && headerHave_ == 0;
    case Mode::Searching: return !everInStep_;  // not known to be MP3: no frames to keep whole
    case Mode::Lost: return true;
  }
  return true;
}

qsizetype Mp3FrameTracker::intoFrame() const {
  if (mode_ != Mode::InStep) return -1;
  if (headerHave_ > 0) return headerHave_;
  return skip_ > 0 ? frameBytes_ - skip_ : 0;
}

qsizetype Mp3FrameTracker::feed(QByteArrayView bytes, bool stopAtBoundary) {
  const auto *data = reinterpret_cast<const std::uint8_t *>(bytes.data());
  const qsizetype n = bytes.size();
  qsizetype i = 0;
  while (i < n) {
    if (stopAtBoundary && atBoundary()) return i;
    if (mode_ == Mode::Lost) return n;
    if (mode_ == Mode::Searching) {
      search(bytes.sliced(i));
      return n;
    }
    if (skip_ > 0) {
      const qsizetype step = std::min(skip_, n - i);
      skip_ -= step;
      i += step;
      continue;
    }
    const int take = int(std::min<qsizetype>(4 - headerHave_, n - i));
    std::copy_n(data + i, take, header_.begin() + headerHave_);
    headerHave_ += take;
    i += take;
    if (headerHave_ < 4) break;

    const auto info = audio::parseMp3Header(header_.data());
    const bool fits = info && (framesInStep_ == 0 || (info->version == version_ && info->layer == layer_ &&
                                                      info->sampleRate == sampleRate_));
    if (!fits) {
      lose();
      continue;
    }
    version_ = info->version;
    layer_ = info->layer;
    sampleRate_ = info->sampleRate;
    frameBytes_ = qsizetype(info->frameBytes);
    skip_ = frameBytes_ - 4;
    headerHave_ = 0;
    if (++framesInStep_ >= 2) everInStep_ = true;
  }
  return n;
}

// The header just read is not where a frame should begin: look for the
// frames again, starting with that header's bytes.
void Mp3FrameTracker::lose() {
  mode_ = Mode::Searching;
  framesInStep_ = 0;
  window_.assign(header_.begin(), header_.end());
  headerHave_ = 0;
  skip_ = 0;
  searched_ = 0;
}

void Mp3FrameTracker::search(QByteArrayView bytes) {
  const auto *data = reinterpret_cast<const std::uint8_t *>(bytes.data());
  window_.insert(window_.end(), data, data + bytes.size());
  searched_ += bytes.size();
  for (;;) {
    const std::size_t size = window_.size();
    const auto found = audio::findFirstMp3Frame(window_.data(), size, false);
    if (!found) break;
    // Two frames agree; follow the chain to the end of what is here.
    std::size_t p = found->offset;
    const audio::Mp3FrameInfo first = found->info;
    std::size_t last = first.frameBytes;
    int frames = 0;
    bool broken = false;
    while (p + 4 <= size) {
      const auto info = audio::parseMp3Header(window_.data() + p);
      if (!info || info->version != first.version || info->layer != first.layer ||
          info->sampleRate != first.sampleRate) {
        broken = true;
        break;
      }
      last = info->frameBytes;
      p += info->frameBytes;
      ++frames;
    }
    if (broken) {
      window_.erase(window_.begin(), window_.begin() + std::ptrdiff_t(found->offset + 1));
      continue;
    }
    mode_ = Mode::InStep;
    everInStep_ = true;
    framesInStep_ = frames;
    version_ = first.version;
    layer_ = first.layer;
    sampleRate_ = first.sampleRate;
    if (p >= size) {
      frameBytes_ = qsizetype(last);
      skip_ = qsizetype(p - size);
      headerHave_ = 0;
    } else {  // the next header has begun
      headerHave_ = int(size - p);
      std::copy(window_.begin() + std::ptrdiff_t(p), window_.end(), header_.begin());
      skip_ = 0;
    }
    window_.clear();
    return;
  }
  if (searched_ > kSearchLimit) {
    mode_ = Mode::Lost;
    window_.clear();
  } else if (window_.size() > kWindowMax) {
    window_.erase(window_.begin(), window_.end() - std::ptrdiff_t(kWindowKeep));
  }
}

}  // namespace kirasol::recorder
