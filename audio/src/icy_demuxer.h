#pragma once
// Splits an ICY byte stream (audio runs of `metaint` bytes, each followed by a
// length byte L and L*16 bytes of metadata) into audio and metadata. With
// metaint 0 everything is audio.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kirasol::audio {

class IcyDemuxer {
 public:
  // `onAudio` receives runs of audio bytes; `onMeta` receives each metadata
  // block that carries text (zero padding removed) together with the number of
  // audio bytes that came before it. Empty blocks are dropped.
  using AudioFn = std::function<void(const uint8_t *data, size_t size)>;
  using MetaFn = std::function<void(uint64_t audioBytesBefore, std::string text)>;

  IcyDemuxer(uint32_t metaint, AudioFn onAudio, MetaFn onMeta);

  // Feeds received bytes; a block split over several calls is reassembled.
  void feed(const uint8_t *data, size_t size);

  uint64_t audioBytes() const { return audioBytes_; }

 private:
  enum class State { Audio, Length, Meta };
  uint32_t metaint_;
  AudioFn onAudio_;
  MetaFn onMeta_;
  State state_ = State::Audio;
  uint32_t untilMeta_;
  size_t metaLeft_ = 0;
  std::string meta_;
  uint64_t audioBytes_ = 0;
};

}  // namespace kirasol::audio
