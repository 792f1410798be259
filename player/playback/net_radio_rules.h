#pragma once
// The decisions of the stream status display, as plain functions: how the
// buffer fill becomes a percentage, which header lines name the station, how
// the song title is cut out of the metadata, how texts are formatted.

#include <bass.h>

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace kirasol {

// Status texts shown in lblName / lblBPS.
inline constexpr char kConnectingText[] = "connecting...";
inline constexpr char kNotPlayingText[] = "not playing";
// "reconnecting... (3)": the station ended by itself and attempt 3 is being
// waited for or made.
QString reconnectingText(int attempt);
// Shown (with the library's error code) when the station cannot be opened.
QString stationUnreachableMessage();
// The line under that message naming why, from the library's error code and
// the status code of the last answer the server gave (0 when none came):
// server unreachable, certificate not trusted, not found, format not
// supported. Empty when the code names no cause a listener could act on.
QString stationFailureCause(int errorCode, int lastStatus);
// The status code of a header block's status line ("HTTP/1.0 404 ..." or
// "ICY 404 ..."); 0 when there is none.
int statusCodeOfBlock(const char *block);

// Playback starts once more than this share of the download buffer is held.
inline constexpr int kStartPercentage = 75;

// The high and low 16 bits of a 32-bit value.
constexpr DWORD HiWord(DWORD value) { return (value >> 16) & 0xFFFFu; }
constexpr DWORD LoWord(DWORD value) { return value & 0xFFFFu; }

// Text at a library address up to its terminating zero, decoded by the text
// policy (UTF-8 when valid, else Windows-874). Null gives an empty text.
QString StringFromAnsiPtr(const char *address);

// Buffer fill in percent: held * 100 / end rounded half to even. The library
// reports its file positions as 32-bit values, so a failed query (-1) is
// taken as -1 on both sides and gives 100, which starts playback at once on a
// channel that is not a stream. A buffer size of 0 gives 0: keep buffering.
int bufferPercentage(QWORD held, QWORD end);

// "buffering... 42%".
QString bufferingText(int percentage);

// What the header lines of a response say about the station. Values are the
// rest of the last matching line; nullopt when no line matched.
struct StationHeaders {
  std::optional<QString> name;     // after "icy-name:"
  std::optional<QString> bitRate;  // after "icy-br:"
};
// Walks a tag block (zero-terminated lines ended by an empty one). Null gives
// no values.
StationHeaders parseStationHeaders(const char *block);
// "bitrate: " + value.
QString bitRateText(const QString &value);

// The song title of a metadata text ("StreamTitle='Artist - Song';..."), or
// nullopt when the text is not a title block. The title ends at the "';"
// that closes it (common/stream_title.h), so "AC;DC" and "Don't" stay whole;
// without one the value is shown without its closing quote. Numeric
// character references are decoded.
std::optional<QString> songTitleFromMeta(const QString &meta);

// Processor load with exactly two decimals, rounded half to even ("3.14").
QString cpuText(float percent);

// The entry of StationUrls that a preset opens.
int stationUrlIndex(int preset);

}  // namespace kirasol
