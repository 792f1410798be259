#pragma once
// What a music player sees in a recording file: the ID3v2 tag at its start
// (read just far enough for text frames) and whether the MPEG frames after
// it chain without a gap from the tag's end to the file's end.

#include "mp3_frame.h"

#include <QByteArray>
#include <QHash>
#include <QString>

namespace kirasol::test {

struct Id3Text {
  bool present = false;
  qsizetype size = 0;  // bytes of the whole tag
  int version = 0;
  QHash<QByteArray, QString> frames;  // text frames by id; UTF-8 only
};

inline quint32 syncsafe(QByteArrayView b) {
  quint32 v = 0;
  for (char c : b) v = (v << 7) | (quint8(c) & 0x7f);
  return v;
}

inline Id3Text readId3(QByteArrayView file) {
  Id3Text tag;
  if (file.size() < 10 || !file.startsWith("ID3")) return tag;
  tag.present = true;
  tag.version = file[3];
  tag.size = 10 + qsizetype(syncsafe(file.sliced(6, 4)));
  QByteArrayView rest = file.sliced(10, qMin(tag.size, file.size()) - 10);
  while (rest.size() >= 10 && rest[0] != '\0') {
    const QByteArray id = rest.first(4).toByteArray();
    const qsizetype length = syncsafe(rest.sliced(4, 4));
    if (length < 1 || 10 + length > rest.size()) break;
    const QByteArrayView data = rest.sliced(10, length);
    if (id.startsWith('T') && data[0] == '\x03') tag.frames.insert(id, QString::fromUtf8(data.sliced(1)));
    rest = rest.sliced(10 + length);
  }
  return tag;
}

// Whole frames from the first byte to the last; -1 when a header is missing
// where a frame should begin, or the last frame is cut short.
inline int wholeFrames(QByteArrayView audio) {
  const auto *p = reinterpret_cast<const uint8_t *>(audio.data());
  qsizetype at = 0;
  int frames = 0;
  while (at < audio.size()) {
    if (audio.size() - at < 4) return -1;
    const auto info = audio::parseMp3Header(p + at);
    if (!info || at + qsizetype(info->frameBytes) > audio.size()) return -1;
    at += qsizetype(info->frameBytes);
    ++frames;
  }
  return frames;
}

}  // namespace kirasol::test
