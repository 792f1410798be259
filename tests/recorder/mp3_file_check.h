#pragma once
// What a music player sees in a recording file: the text frames of the
// ID3v2 tag at its start, and whether the MPEG frames after it chain without
// a gap to the file's end.

#include "mp3_frame.h"

#include <QByteArray>
#include <QHash>
#include <QString>

namespace kirasol::test {

struct Id3Text {
  qsizetype size = 0;  // of the whole tag; 0 without one
  int version = 0;
  QHash<QByteArray, QString> frames;  // UTF-8 text frames by id
};

inline Id3Text readId3(QByteArrayView file) {
  const auto syncsafe = [](QByteArrayView b) {
    qsizetype v = 0;
    for (char c : b) v = (v << 7) | (quint8(c) & 0x7f);
    return v;
  };
  Id3Text tag;
  if (file.size() < 10 || !file.startsWith("ID3")) return tag;
  tag.version = file[3];
  tag.size = 10 + syncsafe(file.sliced(6, 4));
  for (qsizetype at = 10; at + 10 < qMin(tag.size, file.size());) {
    const qsizetype length = syncsafe(file.sliced(at + 4, 4));
    if (length < 1 || at + 10 + length > file.size()) break;
    if (file[at] == 'T' && file[at + 10] == '\x03')
      tag.frames.insert(file.sliced(at, 4).toByteArray(), QString::fromUtf8(file.sliced(at + 11, length - 1)));
    at += 10 + length;
  }
  return tag;
}

// Whole frames from the first byte to the last; -1 when a header is missing
// where a frame should begin, or the last frame is cut short.
inline int wholeFrames(QByteArrayView audio) {
  int frames = 0;
  for (qsizetype at = 0; at < audio.size(); ++frames) {
    const auto info = audio.size() - at >= 4 ? audio::parseMp3Header(reinterpret_cast<const uint8_t *>(audio.data()) + at)
                                             : std::nullopt;
    if (!info || at + qsizetype(info->frameBytes) > audio.size()) return -1;
    at += qsizetype(info->frameBytes);
  }
  return frames;
}

}  // namespace kirasol::test
