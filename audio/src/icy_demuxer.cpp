#include "icy_demuxer.h"

#include <algorithm>

namespace kirasol::audio {

IcyDemuxer::IcyDemuxer(uint32_t metaint, AudioFn onAudio, MetaFn onMeta)
    : metaint_(metaint), onAudio_(std::move(onAudio)), onMeta_(std::move(onMeta)), untilMeta_(metaint) {}

void IcyDemuxer::feed(const uint8_t *data, size_t size) {
  if (metaint_ == 0) {
    if (size > 0) onAudio_(data, size);
    audioBytes_ += size;
    return;
  }
  size_t pos = 0;
  while (pos < size) {
    switch (state_) {
      case State::Audio: {
        const size_t n = std::min<size_t>(untilMeta_, size - pos);
        onAudio_(data + pos, n);
        audioBytes_ += n;
        pos += n;
        untilMeta_ -= uint32_t(n);
        if (untilMeta_ == 0) state_ = State::Length;
        break;
      }
      case State::Length:
        metaLeft_ = size_t(data[pos++]) * 16;
        meta_.clear();
        if (metaLeft_ == 0) {
          state_ = State::Audio;
          untilMeta_ = metaint_;
        } else {
          state_ = State::Meta;
        }
        break;
      case State::Meta: {
        const size_t n = std::min(metaLeft_, size - pos);
        meta_.append(reinterpret_cast<const char *>(data + pos), n);
        pos += n;
        metaLeft_ -= n;
        if (metaLeft_ == 0) {
          // Blocks are padded with NULs to a multiple of 16; the text ends at
          // the first one.
          const auto end = meta_.find('\0');
          if (end != std::string::npos) meta_.resize(end);
          if (!meta_.empty()) onMeta_(audioBytes_, std::move(meta_));
          meta_.clear();
          state_ = State::Audio;
          untilMeta_ = metaint_;
        }
        break;
      }
    }
  }
}

}  // namespace kirasol::audio
