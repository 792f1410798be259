#pragma once
// What the recorder says to the station and how it reads the answer: the
// server text the user types, the request, header acceptance, the station
// name, bit rate and song titles. Pure functions, no sockets.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <optional>
#include <variant>

namespace kirasol::recorder {

// A response whose header block has not been accepted within this many bytes
// is given up: a station sends a few hundred bytes of headers.
inline constexpr qsizetype kMaxHeaderBytes = 64 * 1024;

struct StationTarget {
  QString host;
  QString path;  // from the first "/" on; empty when none
};

// Server text as typed: every "http://" removed, then split at the first "/".
// A ":port" written into the text stays part of the host.
StationTarget splitServerText(const QString &serverText);

// Why a server/port pair cannot be tuned to, as shown in lblRadio; empty when
// it can. Rejected: an empty host, a port that is not a whole number in
// 1..65535, and control characters that would break the request's lines.
QString targetProblem(const StationTarget &target, const QString &portText, std::int32_t *port);

// The request: "%" becomes the connected server's numeric address first, then
// "$" becomes the path, so a "%" inside the path stays as typed.
QByteArray buildRequest(const QString &serverIp, const QString &requestPath);

// Length of the accepted header block (through CR LF CR LF) when the buffer
// holds a complete block containing "ICY 200 OK"; nullopt otherwise.
std::optional<qsizetype> acceptedHeaderLength(QByteArrayView headerBuffer);

// Length of the header block (through the first CR LF CR LF), whatever its
// status; nullopt while it is incomplete.
std::optional<qsizetype> headerBlockLength(QByteArrayView headerBuffer);

// lblRadio text for a complete header block that is not a station's: names
// the server's status line, as in: Not an ICY station: "HTTP/1.0 200 OK".
QString notIcyStationText(QByteArrayView headerBlock);

// The decimal value after the first "icy-metaint:" up to CR LF; 0 when the
// header is missing or its value is not a positive 32-bit number.
std::int32_t metaIntFrom(QByteArrayView headers);
// The same for "icy-br:", the station's bit rate in kbit/s.
std::int32_t bitRateFrom(QByteArrayView headers);

// The station's name from "icy-name:", decoded; nullopt without one.
std::optional<QString> stationName(QByteArrayView headers);

// lblRadio and lblBitrate texts for accepted headers.
QString stationNameText(QByteArrayView headers);
QString bitrateText(QByteArrayView headers);

// The raw title of a metadata block: the bytes after the first
// "StreamTitle=" up to the "';" that closes a quoted title (quotes kept;
// common/stream_title.h), else up to the next ";". Without either the title
// runs to the block's zero padding. nullopt when there is no "StreamTitle=".
std::optional<QByteArray> streamTitle(QByteArrayView metadata);

// lblTitle text for a metadata block.
QString titleText(QByteArrayView metadata);

}  // namespace kirasol::recorder
