// The audio engine's MPEG frame-header check on arbitrary bytes. Every
// accepted header must describe a real MPEG audio frame: a bit rate from the
// table of its version and layer, a sample rate of its version, a frame
// length that matches bit rate x duration and lies within the limits of the
// format. The frame search must return a confirmed frame inside the data,
// and what it finds in a prefix that is still growing stays found when the
// rest arrives.

#include "fuzz/fuzz_input.h"
#include "mp3_frame.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <vector>

namespace {

using namespace kirasol::audio;

bool contains(std::initializer_list<int> set, int v) { return std::find(set.begin(), set.end(), v) != set.end(); }

void checkInfo(const Mp3FrameInfo &f) {
  FUZZ_CHECK(f.version == 1 || f.version == 2 || f.version == 25, "version");
  FUZZ_CHECK(f.layer >= 1 && f.layer <= 3, "layer");
  FUZZ_CHECK(f.channels == 1 || f.channels == 2, "channels");
  if (f.version == 1) {
    FUZZ_CHECK(contains({32000, 44100, 48000}, f.sampleRate), "MPEG-1 sample rate");
  } else if (f.version == 2) {
    FUZZ_CHECK(contains({16000, 22050, 24000}, f.sampleRate), "MPEG-2 sample rate");
  } else {
    FUZZ_CHECK(contains({8000, 11025, 12000}, f.sampleRate), "MPEG-2.5 sample rate");
  }
  if (f.version == 1 && f.layer == 1) {
    FUZZ_CHECK(contains({32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, f.bitrateKbps), "bit rate");
  } else if (f.version == 1 && f.layer == 2) {
    FUZZ_CHECK(contains({32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384}, f.bitrateKbps), "bit rate");
  } else if (f.version == 1) {
    FUZZ_CHECK(contains({32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}, f.bitrateKbps), "bit rate");
  } else if (f.layer == 1) {
    FUZZ_CHECK(contains({32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256}, f.bitrateKbps), "bit rate");
  } else {
    FUZZ_CHECK(contains({8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}, f.bitrateKbps), "bit rate");
  }
  // Samples per frame, and the size of one padding slot.
  const int samples = f.layer == 1 ? 384 : (f.layer == 3 && f.version != 1) ? 576 : 1152;
  const size_t slot = f.layer == 1 ? 4 : 1;
  const double exact = double(samples) / 8 * f.bitrateKbps * 1000 / f.sampleRate;
  FUZZ_CHECK(double(f.frameBytes) > exact - double(slot) && double(f.frameBytes) < exact + 2 * double(slot),
             "frame length is bit rate x duration, plus at most one padding slot");
  // The extremes: MPEG-2 layer 3 at 8 kbit/s and 24 kHz, MPEG-2.5 layer 2
  // at 160 kbit/s and 8 kHz with padding.
  FUZZ_CHECK(f.frameBytes >= 24 && f.frameBytes <= 2881, "frame length within the format's limits");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  const size_t prefixPick = fdp.ConsumeIntegral<uint16_t>();
  const std::vector<uint8_t> bytes = fdp.ConsumeRemainingBytes<uint8_t>();

  for (size_t i = 0; i + 4 <= bytes.size(); ++i)
    if (const auto info = parseMp3Header(bytes.data() + i)) checkInfo(*info);

  for (const bool atEnd : {false, true}) {
    const auto found = findFirstMp3Frame(bytes.data(), bytes.size(), atEnd);
    if (!found) continue;
    FUZZ_CHECK(found->offset + 4 <= bytes.size(), "the header is inside the data");
    const auto again = parseMp3Header(bytes.data() + found->offset);
    FUZZ_CHECK(again && again->frameBytes == found->info.frameBytes && again->bitrateKbps == found->info.bitrateKbps,
               "the result describes the header at its offset");
    const size_t next = found->offset + found->info.frameBytes;
    if (next + 4 <= bytes.size()) {
      const auto second = parseMp3Header(bytes.data() + next);
      FUZZ_CHECK(second && second->version == found->info.version && second->layer == found->info.layer &&
                     second->sampleRate == found->info.sampleRate,
                 "confirmed by a matching header right after the frame");
    } else {
      FUZZ_CHECK(atEnd && next == bytes.size(), "a lone frame counts only when it fills the finished data");
    }
  }

  // What a growing prefix confirms stays confirmed when the rest arrives.
  const size_t prefix = bytes.empty() ? 0 : prefixPick % (bytes.size() + 1);
  if (const auto early = findFirstMp3Frame(bytes.data(), prefix, false)) {
    const auto late = findFirstMp3Frame(bytes.data(), bytes.size(), false);
    FUZZ_CHECK(late && late->offset == early->offset, "more data does not move a confirmed frame");
  }
  return 0;
}
