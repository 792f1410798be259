#pragma once
// Follows the MP3 frames through a station's audio as it arrives, piece by
// piece, so that recording files begin with a frame header and end with a
// complete frame. Once in step it reads only the four header bytes of each
// frame and skips the rest; it looks at every byte only while finding the
// frames (at a stream's start when that is not a header, or after damage).

#include <QByteArrayView>
#include <array>
#include <cstdint>
#include <vector>

namespace kirasol::recorder {

class Mp3FrameTracker {
 public:
  // Finding the frames again after damage goes on for this many bytes before
  // the stream counts as one whose frames cannot be followed; from then on
  // every place is a boundary, as for a stream that is not MP3 at all.
  static constexpr qsizetype kSearchLimit = 16 * 1024;

  Mp3FrameTracker();

  // The next byte fed is a stream's first audio byte; a station starts its
  // listeners at a frame header.
  void reset();

  // True when a file may begin or end before the next byte: at a frame start,
  // or anywhere in a stream whose frames are not (or no longer) followed.
  bool atBoundary() const;

  // Takes bytes in stream order. With stopAtBoundary, stops before the first
  // boundary it reaches (0 when atBoundary() already) and returns how many
  // bytes it took; otherwise takes them all.
  qsizetype feed(QByteArrayView bytes, bool stopAtBoundary = false);

  // Bytes of the frame in progress taken so far (0 at a frame start); -1 when
  // the frames are not followed here.
  qsizetype intoFrame() const;

 private:
  enum class Mode { InStep, Searching, Lost };
  void search(QByteArrayView bytes);
  void lose();

  Mode mode_ = Mode::InStep;
  bool everInStep_ = false;  // two frames in a row were seen on this stream
  int framesInStep_ = 0;
  qsizetype frameBytes_ = 0;  // length of the frame in progress
  qsizetype skip_ = 0;        // body bytes of that frame still to come
  std::array<std::uint8_t, 4> header_{};
  int headerHave_ = 0;        // bytes of the next header taken so far
  int version_ = 0, layer_ = 0, sampleRate_ = 0;
  std::vector<std::uint8_t> window_;  // recent bytes while searching; capacity kept
  qsizetype searched_ = 0;
};

}  // namespace kirasol::recorder
