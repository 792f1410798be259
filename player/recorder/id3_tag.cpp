#include "player/recorder/id3_tag.h"

namespace kirasol::recorder {

namespace {

// Sizes in ID3v2.4 headers carry 7 bits per byte, so no size looks like a
// frame sync.
void appendSyncsafe(QByteArray &out, quint32 value) {
  for (int shift = 21; shift >= 0; shift -= 7) out.append(char((value >> shift) & 0x7f));
}

void appendTextFrame(QByteArray &out, const char *id, const QString &text) {
  if (text.isEmpty()) return;
  const QByteArray utf8 = text.toUtf8();
  out.append(id, 4);
  appendSyncsafe(out, quint32(utf8.size() + 1));
  out.append(2, '\0');  // no frame flags
  out.append('\x03');   // UTF-8
  out.append(utf8);
}

QString unquoted(const QString &text) {
  const QString t = text.trimmed();
  if (t.size() >= 2 && t.startsWith(u'\'') && t.endsWith(u'\'')) return t.mid(1, t.size() - 2).trimmed();
  return t;
}

}  // namespace

RecordingTag songTag(const QString &streamTitle, const QString &station, const QDateTime &recorded) {
  RecordingTag tag;
  tag.station = station.trimmed();
  tag.recorded = recorded;
  const QString text = unquoted(streamTitle);
  const qsizetype dash = text.indexOf(QStringLiteral(" - "));
  if (dash > 0) {
    tag.artist = text.left(dash).trimmed();
    tag.title = text.mid(dash + 3).trimmed();
  } else {
    tag.title = text;
  }
  return tag;
}

RecordingTag showTag(const QString &fileName, const QString &station, const QDateTime &recorded) {
  RecordingTag tag;
  tag.station = station.trimmed();
  tag.artist = tag.station;
  tag.recorded = recorded;
  const qsizetype dot = fileName.lastIndexOf(u'.');
  tag.title = (dot >= 0 ? fileName.left(dot) : fileName).trimmed();
  if (tag.title.isEmpty()) tag.title = tag.station;
  return tag;
}

QByteArray id3v2Tag(const RecordingTag &tag) {
  QByteArray frames;
  appendTextFrame(frames, "TIT2", tag.title);
  appendTextFrame(frames, "TPE1", tag.artist);
  appendTextFrame(frames, "TALB", tag.station);
  appendTextFrame(frames, "TRSN", tag.station);
  if (tag.recorded.isValid())
    appendTextFrame(frames, "TDRC", tag.recorded.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")));
  if (frames.isEmpty()) return {};  // a tag must hold a frame
  QByteArray out("ID3\x04\x00\x00", 6);
  appendSyncsafe(out, quint32(frames.size()));
  return out + frames;
}

}  // namespace kirasol::recorder
