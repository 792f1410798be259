#include "icy_framer.h"

#include <algorithm>
#include <limits>

namespace kirasol::station {

namespace {
constexpr int kMaxBlockBytes = 255 * 16;
}

IcyStreamFramer::IcyStreamFramer(TrackList tracks, int metaInt, bool repeatTitle, bool loop)
    : tracks_(std::move(tracks)), metaInt_(metaInt), repeatTitle_(repeatTitle), loop_(loop), untilMeta_(metaInt) {
  finished_ = !tracks_ || tracks_->empty();
}

QByteArray IcyStreamFramer::titleBlock(const QString &title) {
  static const QByteArray head = "StreamTitle='";
  static const QByteArray tail = "';StreamUrl='';";
  QByteArray text = title.toUtf8();
  const qsizetype room = kMaxBlockBytes - head.size() - tail.size();
  if (text.size() > room) {
    qsizetype cut = room;
    // Never split a UTF-8 sequence: back up over continuation bytes.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.truncate(cut);
  }
  QByteArray body = head + text + tail;
  const qsizetype units = (body.size() + 15) / 16;
  body.append(units * 16 - body.size(), '\0');
  QByteArray block(1, static_cast<char>(units));
  block += body;
  return block;
}

qint64 IcyStreamFramer::produce(qint64 maxAudio, QByteArray &out) {
  qint64 produced = 0;
  while (produced < maxAudio && !finished_) {
    if (metaInt_ > 0 && untilMeta_ == 0) {
      const QString &title = (*tracks_)[index_].title;
      if (!anyAnnounced_ || title != announced_ || repeatTitle_) {
        out += titleBlock(title);
        announced_ = title;
        anyAnnounced_ = true;
      } else {
        out += '\0';
      }
      untilMeta_ = metaInt_;
    }
    const QByteArray &bytes = (*tracks_)[index_].bytes;
    qint64 n = std::min(maxAudio - produced, qint64(bytes.size()) - offset_);
    if (metaInt_ > 0) n = std::min(n, untilMeta_);
    out.append(bytes.constData() + offset_, n);
    offset_ += n;
    produced += n;
    if (metaInt_ > 0) untilMeta_ -= n;
    if (offset_ == bytes.size()) {
      offset_ = 0;
      if (++index_ == tracks_->size()) {
        index_ = 0;
        finished_ = !loop_;
      }
    }
  }
  return produced;
}

}  // namespace kirasol::station
