#pragma once
// Turns the station's tracks into the byte stream a Shoutcast client expects:
// the tracks' bytes back to back, with a metadata block after every `metaInt`
// audio bytes when the client asked for metadata.

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

namespace kirasol::station {

struct StreamTrack {
  QString file;       // file name inside the tracks folder
  QString title;      // "Artist - Title", announced in StreamTitle
  int frequency = 0;  // dominant tone in Hz (0 = unknown); only for tests and listings
  QByteArray bytes;   // the MPEG frames as stored
};

using TrackList = std::shared_ptr<const std::vector<StreamTrack>>;

// Rule for metadata blocks: a block follows every `metaInt` audio bytes. It
// carries "StreamTitle='Artist - Title';StreamUrl='';" (zero-padded to a
// multiple of 16 bytes, length byte = size / 16) when the track that the next
// audio byte belongs to differs from the last announced title, so the very
// first block announces track 1; otherwise it is a single zero byte, unless
// `repeatTitle` asks for the title in every block.
class IcyStreamFramer {
 public:
  // `metaInt` 0 means no metadata blocks at all. Tracks must not be empty
  // (empty tracks are left out when loading).
  IcyStreamFramer(TrackList tracks, int metaInt, bool repeatTitle, bool loop);

  // Appends to `out` at most `maxAudio` audio bytes together with the
  // metadata blocks that fall before them; returns the audio bytes appended.
  // A block due after the last appended byte is written with the next call,
  // just before the audio byte that follows it.
  qint64 produce(qint64 maxAudio, QByteArray &out);

  // True once every track has been sent and `loop` is false.
  bool finished() const { return finished_; }

  // The block announcing `title`: length byte, then the text zero-padded.
  // Titles too long for the 255 × 16 byte limit are cut at a character boundary.
  static QByteArray titleBlock(const QString &title);

 private:
  TrackList tracks_;
  int metaInt_;
  bool repeatTitle_;
  bool loop_;
  std::size_t index_ = 0;      // track of the next audio byte
  qint64 offset_ = 0;          // its offset inside that track
  qint64 untilMeta_ = 0;       // audio bytes left before the next block
  QString announced_;          // the title announced last
  bool anyAnnounced_ = false;
  bool finished_ = false;
};

}  // namespace kirasol::station
