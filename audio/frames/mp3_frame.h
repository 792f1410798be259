#pragma once
// MPEG audio frame headers: enough to recognise an MP3 stream, learn its bit
// rate and sample rate before decoding, and reject things that are not MP3.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kirasol::audio {

struct Mp3FrameInfo {
  int version = 0;        // 1 = MPEG-1, 2 = MPEG-2, 25 = MPEG-2.5
  int layer = 0;          // 1, 2 or 3
  int bitrateKbps = 0;
  int sampleRate = 0;
  int channels = 0;
  size_t frameBytes = 0;  // whole frame, header included
};

// Parses the 4-byte header at `p`; nothing for an invalid or free-format header.
std::optional<Mp3FrameInfo> parseMp3Header(const uint8_t *p);

struct Mp3SyncResult {
  size_t offset;
  Mp3FrameInfo info;
};

// Finds the first frame whose header is followed by another header of the same
// version, layer and sample rate, so stray sync bytes in other data do not
// count. When `atEnd` is true the data will not grow, and a frame that fills
// it exactly counts alone. Nothing when no such frame is (yet) present.
std::optional<Mp3SyncResult> findFirstMp3Frame(const uint8_t *data, size_t size, bool atEnd);

}  // namespace kirasol::audio
