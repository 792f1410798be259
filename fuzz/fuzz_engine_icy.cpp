// The audio engine's ICY demuxer on arbitrary stream bytes. The result must
// not depend on how the network cut the stream: fed whole, split at a
// fuzzer-chosen point and in small pieces, the same bytes give the same audio
// and the same metadata texts at the same audio positions. An index-based walk
// over the whole buffer says where every byte belongs (audio, a length byte or
// a metadata block), and the demuxer's output must agree with it.

#include "fuzz/fuzz_input.h"
#include "icy_demuxer.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using kirasol::audio::IcyDemuxer;

struct Output {
  std::string audio;
  std::vector<std::pair<uint64_t, std::string>> metas;
};

struct Run {
  Output out;
  IcyDemuxer demux;

  explicit Run(uint32_t metaint)
      : demux(
            metaint,
            [this](const uint8_t *d, size_t n) {
              FUZZ_CHECK(n > 0, "audio runs are never empty");
              out.audio.append(reinterpret_cast<const char *>(d), n);
            },
            [this](uint64_t before, std::string text) {
              FUZZ_CHECK(!text.empty(), "empty blocks are dropped");
              FUZZ_CHECK(text.find('\0') == std::string::npos, "text ends at the first NUL");
              out.metas.emplace_back(before, std::move(text));
            }) {}

  void feed(const std::string &bytes, size_t from, size_t n) {
    demux.feed(reinterpret_cast<const uint8_t *>(bytes.data()) + from, n);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  // Small intervals cross many run/block borders; 0 is the plain stream.
  const uint32_t metaint = fdp.ConsumeIntegralInRange<uint32_t>(0, 300);
  const size_t split = fdp.ConsumeIntegral<uint16_t>();
  const uint8_t pieceSeed = fdp.ConsumeIntegral<uint8_t>();
  const std::string bytes = fdp.ConsumeRemainingBytesAsString();

  Run whole(metaint);
  whole.feed(bytes, 0, bytes.size());

  Run halves(metaint);
  const size_t cut = split % (bytes.size() + 1);
  halves.feed(bytes, 0, cut);
  halves.feed(bytes, cut, bytes.size() - cut);

  // Pieces of 0..7 bytes (empty feeds included), lengths drawn from the seed.
  Run pieces(metaint);
  uint32_t r = pieceSeed * 2654435761u + 1;
  for (size_t at = 0; at < bytes.size();) {
    r = r * 1103515245u + 12345u;
    const size_t n = std::min<size_t>((r >> 16) % 8, bytes.size() - at);
    pieces.feed(bytes, at, n);
    at += n;
  }

  for (const Run *other : {&halves, &pieces}) {
    FUZZ_CHECK(other->out.audio == whole.out.audio, "same audio however the stream is cut");
    FUZZ_CHECK(other->out.metas == whole.out.metas, "same texts at the same positions however the stream is cut");
    FUZZ_CHECK(other->demux.audioBytes() == whole.demux.audioBytes(), "same audio count however the stream is cut");
  }
  FUZZ_CHECK(whole.demux.audioBytes() == whole.out.audio.size(), "the audio count is what was handed out");

  if (metaint == 0) {
    FUZZ_CHECK(whole.out.audio == bytes, "without metadata every byte is audio");
    FUZZ_CHECK(whole.out.metas.empty(), "without metadata there are no texts");
    return 0;
  }

  // Where each byte belongs, walking the whole buffer by index.
  std::string audio;
  std::vector<std::pair<uint64_t, std::string>> metas;
  size_t lengthBytes = 0, metaBytes = 0;
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t run = std::min<size_t>(metaint, bytes.size() - at);
    audio.append(bytes, at, run);
    at += run;
    if (at >= bytes.size()) break;
    const size_t blockSize = size_t(uint8_t(bytes[at])) * 16;
    ++at;
    ++lengthBytes;
    const size_t have = std::min(blockSize, bytes.size() - at);
    if (have == blockSize && blockSize > 0) {
      const std::string block = bytes.substr(at, blockSize);
      const std::string text = block.substr(0, block.find('\0'));
      if (!text.empty()) metas.emplace_back(audio.size(), text);
    }
    metaBytes += have;
    at += have;
  }
  FUZZ_CHECK(audio.size() + lengthBytes + metaBytes == bytes.size(), "every byte is accounted for");
  FUZZ_CHECK(whole.out.audio == audio, "audio is the stream without length bytes and blocks");
  FUZZ_CHECK(whole.out.metas == metas, "texts and positions are those of the complete blocks");
  for (const auto &[before, text] : whole.out.metas)
    FUZZ_CHECK(before > 0 && before % metaint == 0, "a block follows a whole run of audio");
  return 0;
}
