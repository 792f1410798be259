#include "mp3_frame.h"

namespace kirasol::audio {
namespace {

// [version row][layer - 1][index]; version row 0 = MPEG-1, 1 = MPEG-2/2.5.
constexpr int kBitrates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};

constexpr int kRates[3] = {44100, 48000, 32000};

}  // namespace

std::optional<Mp3FrameInfo> parseMp3Header(const uint8_t *p) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return std::nullopt;
  const int versionBits = (p[1] >> 3) & 3;
  const int layerBits = (p[1] >> 1) & 3;
  const int bitrateIndex = (p[2] >> 4) & 15;
  const int rateIndex = (p[2] >> 2) & 3;
  const int padding = (p[2] >> 1) & 1;
  if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
    return std::nullopt;
  if ((p[3] & 3) == 2) return std::nullopt;  // reserved emphasis

  Mp3FrameInfo info;
  info.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
  info.layer = 4 - layerBits;
  info.bitrateKbps = kBitrates[info.version == 1 ? 0 : 1][info.layer - 1][bitrateIndex];
  info.sampleRate = kRates[rateIndex] >> (info.version == 1 ? 0 : info.version == 2 ? 1 : 2);
  info.channels = ((p[3] >> 6) & 3) == 3 ? 1 : 2;
  const long bps = long(info.bitrateKbps) * 1000;
  if (info.layer == 1) {
    info.frameBytes = size_t((12 * bps / info.sampleRate + padding) * 4);
  } else if (info.layer == 3 && info.version != 1) {
    info.frameBytes = size_t(72 * bps / info.sampleRate + padding);
  } else {
    info.frameBytes = size_t(144 * bps / info.sampleRate + padding);
  }
  return info;
}

std::optional<Mp3SyncResult> findFirstMp3Frame(const uint8_t *data, size_t size, bool atEnd) {
  for (size_t i = 0; i + 4 <= size; ++i) {
    if (data[i] != 0xFF) continue;
    const auto first = parseMp3Header(data + i);
    if (!first) continue;
    const size_t next = i + first->frameBytes;
    if (next + 4 <= size) {
      const auto second = parseMp3Header(data + next);
      if (second && second->version == first->version && second->layer == first->layer &&
          second->sampleRate == first->sampleRate)
        return Mp3SyncResult{i, *first};
    } else if (atEnd && next == size) {
      return Mp3SyncResult{i, *first};
    } else if (!atEnd) {
      return std::nullopt;  // the confirming header has not arrived yet
    }
  }
  return std::nullopt;
}

}  // namespace kirasol::audio
