#pragma once
// Reads the station's tracks from a folder: "tracks.txt" lists them as
// `file|Artist - Title|frequency` lines (blank lines and lines starting with
// '#' are skipped); without a list every *.mp3 in the folder is played in name
// order with its base name as title.

#include "icy_framer.h"

#include <QString>
#include <variant>

namespace kirasol::station {

// The tracks, or a message saying what is wrong with the folder.
std::variant<TrackList, QString> loadTracks(const QString &folder);

// The bit rate in kbit/s of the first MPEG audio frame header in `bytes`
// (an ID3v2 tag in front is skipped); 0 when there is no valid header there.
int mpegBitRateKbps(const QByteArray &bytes);

}  // namespace kirasol::station
