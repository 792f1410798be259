// The recorder's demultiplexer on arbitrary stream bytes. Beyond "no crash",
// the result must not depend on how the network cut the stream: the same
// bytes fed whole, split at a fuzzer-chosen point, and in fuzzer-chosen small
// pieces give the same audio and the same metadata blocks, and every byte is
// accounted for as audio, a length byte or metadata.

#include "fuzz/fuzz_input.h"
#include "player/recorder/icy_demultiplexer.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

namespace {

using kirasol::recorder::DemuxSink;
using kirasol::recorder::IcyDemultiplexer;
using kirasol::recorder::RecorderState;

struct Output final : DemuxSink {
  QByteArray audio;
  std::vector<QByteArray> blocks;
  void WriteOutFile(QByteArrayView b) override {
    FUZZ_CHECK(!b.isEmpty(), "audio pieces are never empty");
    audio.append(b);
  }
  void ShowTitle(QByteArrayView m) override {
    FUZZ_CHECK(!m.isEmpty() && m.size() % 16 == 0 && m.size() <= 255 * 16, "a block is 16 x its length byte");
    blocks.push_back(m.toByteArray());
  }
};

struct Run {
  RecorderState state;
  Output out;
  IcyDemultiplexer demux{state, out};

  explicit Run(std::int32_t metaInt) { state.lMetaInt = metaInt; }

  // The recorder window's loop over one received chunk.
  void feed(QByteArrayView chunk) {
    while (!chunk.isEmpty()) {
      const QByteArrayView rest = demux.ProcessBuffer(chunk, state.bInMetadata);
      FUZZ_CHECK(rest.size() < chunk.size(), "every step consumes something");
      FUZZ_CHECK(rest.isEmpty() || rest.data() + rest.size() == chunk.data() + chunk.size(),
                 "the rest is the chunk's tail");
      chunk = rest;
      const RecorderState &s = state;
      if (s.lMetaInt > 0) {
        FUZZ_CHECK(s.lAudioCount >= 0 && s.lAudioCount < s.lMetaInt, "run counter within the run");
      } else {
        FUZZ_CHECK(s.lAudioCount == 0, "no run counter without metadata");
      }
      FUZZ_CHECK(s.lMetaLength >= 0 && s.lMetaLength % 16 == 0 && s.lMetaLength <= 255 * 16, "block length");
      FUZZ_CHECK(s.sMetaBuffer.size() < qMax(s.lMetaLength, 1), "gathered text shorter than its block");
      FUZZ_CHECK(s.bInMetadata || (s.lMetaLength == 0 && s.sMetaBuffer.isEmpty()), "no block outside metadata");
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  // Small intervals make the fuzzer cross many run/block borders; 0 and
  // negative values are the "no metadata" stream.
  const std::int32_t metaInt = fdp.ConsumeIntegralInRange<std::int32_t>(-2, 300);
  const std::size_t split = fdp.ConsumeIntegral<std::uint16_t>();
  const std::uint8_t pieceSeed = fdp.ConsumeIntegral<std::uint8_t>();
  const std::string bytes = fdp.ConsumeRemainingBytesAsString();
  const QByteArrayView stream(bytes.data(), qsizetype(bytes.size()));

  Run whole(metaInt);
  whole.feed(stream);

  Run halves(metaInt);
  const qsizetype cut = qsizetype(split % (bytes.size() + 1));
  halves.feed(stream.first(cut));
  halves.feed(stream.sliced(cut));

  // Pieces of 1..8 bytes, lengths drawn from the seed.
  Run pieces(metaInt);
  std::uint32_t r = pieceSeed * 2654435761u + 1;
  for (qsizetype at = 0; at < stream.size();) {
    r = r * 1103515245u + 12345u;
    const qsizetype n = qMin<qsizetype>(1 + (r >> 16) % 8, stream.size() - at);
    pieces.feed(stream.sliced(at, n));
    at += n;
  }

  for (const Run *other : {&halves, &pieces}) {
    FUZZ_CHECK(other->out.audio == whole.out.audio, "same audio however the stream is cut");
    FUZZ_CHECK(other->out.blocks == whole.out.blocks, "same metadata blocks however the stream is cut");
    FUZZ_CHECK(other->state.lAudioCount == whole.state.lAudioCount && other->state.bInMetadata == whole.state.bInMetadata &&
                   other->state.lMetaLength == whole.state.lMetaLength && other->state.sMetaBuffer == whole.state.sMetaBuffer,
               "same state at the end however the stream is cut");
  }

  // Conservation: every completed run of audio is followed by one length
  // byte (unless the stream stops just before it), then by that many 16-byte
  // units of metadata, complete or still being gathered.
  if (metaInt <= 0) {
    FUZZ_CHECK(whole.out.audio == stream, "without metadata every byte is audio");
    FUZZ_CHECK(whole.out.blocks.empty(), "without metadata there are no blocks");
  } else {
    const RecorderState &s = whole.state;
    const bool lengthBytePending = s.bInMetadata && s.lMetaLength == 0;
    const qsizetype lengthBytes = whole.out.audio.size() / metaInt - (lengthBytePending ? 1 : 0);
    FUZZ_CHECK(lengthBytes >= qsizetype(whole.out.blocks.size()) + (s.lMetaLength > 0 ? 1 : 0),
               "no more blocks than length bytes");
    qsizetype accounted = whole.out.audio.size() + lengthBytes + s.sMetaBuffer.size();
    for (const QByteArray &b : whole.out.blocks) accounted += b.size();
    FUZZ_CHECK(accounted == stream.size(), "every byte is audio, a length byte or metadata");
  }
  return 0;
}
