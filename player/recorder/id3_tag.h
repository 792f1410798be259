#pragma once
// The ID3v2.4 tag at the start of each recording file, so that a music
// library shows the song, the artist and the station instead of "Unknown
// artist". Text is stored as UTF-8 (encoding byte 3): Thai titles from a
// Windows-874 station and from a UTF-8 one come out the same.

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace kirasol::recorder {

struct RecordingTag {
  QString title;    // TIT2
  QString artist;   // TPE1
  QString station;  // TALB (so a library groups a station's songs) and TRSN
  QDateTime recorded;  // TDRC, to the second, local time
};

// A song file: the station's "Artist - Title" (quote marks around it
// dropped) split at the first " - "; without one the whole text is the title.
RecordingTag songTag(const QString &streamTitle, const QString &station, const QDateTime &recorded);

// A file recorded without splitting: titled with the file's name (without
// its extension), else with the station's; the station as artist too.
RecordingTag showTag(const QString &fileName, const QString &station, const QDateTime &recorded);

// The whole tag: header and text frames; frames with no text are left out,
// and with no text at all there is no tag.
QByteArray id3v2Tag(const RecordingTag &tag);

}  // namespace kirasol::recorder
