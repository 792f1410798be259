#include "player/recorder/station_protocol.h"

#include "common/stream_title.h"
#include "common/text_codec.h"

#include <limits>

namespace kirasol::recorder {

namespace {

constexpr QByteArrayView kCrLf("\r\n");

// The text after `key` up to the next CR LF (or the end), or nullopt.
std::optional<QByteArrayView> headerValue(QByteArrayView headers, QByteArrayView key) {
  const qsizetype at = headers.indexOf(key);
  if (at < 0) return std::nullopt;
  QByteArrayView rest = headers.sliced(at + key.size());
  const qsizetype end = rest.indexOf(kCrLf);
  return end < 0 ? rest : rest.first(end);
}

bool hasControlCharacter(const QString &text) {
  for (const QChar c : text) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7f) return true;
  }
  return false;
}

}  // namespace

StationTarget splitServerText(const QString &serverText) {
  QString text = serverText;
  text.remove(QStringLiteral("http://"), Qt::CaseSensitive);
  const qsizetype slash = text.indexOf(u'/');
  if (slash < 0) return {text, QString()};
  return {text.left(slash), text.mid(slash)};
}

QString targetProblem(const StationTarget &target, const QString &portText, std::int32_t *port) {
  if (target.host.trimmed().isEmpty()) return QStringLiteral("Server IP is empty");
  if (hasControlCharacter(target.host) || hasControlCharacter(target.path)) {
    return QStringLiteral("Server IP contains control characters");
  }
  bool ok = false;
  const int value = portText.trimmed().toInt(&ok, 10);
  if (!ok || value < 1 || value > 65535) {
    return QStringLiteral("Port must be a number from 1 to 65535");
  }
  if (port) *port = value;
  return {};
}

QByteArray buildRequest(const QString &serverIp, const QString &requestPath) {
  QString request = QStringLiteral(
      "GET $ HTTP/1.0\r\nHost: %\r\nUser-Agent: WinampMPEG/2.7\r\nAccept: */*\r\nIcy-MetaData:1\r\n"
      "Connection: close\r\n\r\n");
  request.replace(u'%', serverIp);
  request.replace(u'$', requestPath);
  return request.toUtf8();
}

std::optional<qsizetype> headerBlockLength(QByteArrayView headerBuffer) {
  const qsizetype blank = headerBuffer.indexOf(QByteArrayView("\r\n\r\n"));
  if (blank < 0) return std::nullopt;
  return blank + 4;
}

std::optional<qsizetype> acceptedHeaderLength(QByteArrayView headerBuffer) {
  const auto length = headerBlockLength(headerBuffer);
  // The status may sit on any line of the block, but text after the blank
  // line is stream data: an HTTP reply whose body happens to hold the words
  // is still an HTTP reply.
  if (!length || headerBuffer.first(*length).indexOf(QByteArrayView("ICY 200 OK")) < 0) return std::nullopt;
  return length;
}

QString notIcyStationText(QByteArrayView headerBlock) {
  constexpr qsizetype kShownStatus = 60;  // enough for any real status line
  QByteArrayView status = headerBlock.first(headerBlock.indexOf(kCrLf));
  if (status.size() > kShownStatus) status = status.first(kShownStatus);
  QString shown = decodeText(status);
  for (QChar &c : shown) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7f) c = u'?';
  }
  return QStringLiteral("Not an ICY station: \"%1\"").arg(shown);
}

namespace {

// A header's leading decimal value (after blanks); 0 when the header is
// missing or its value is not a positive 32-bit number.
std::int32_t positiveHeaderNumber(QByteArrayView headers, const char *key) {
  const auto value = headerValue(headers, key);
  if (!value) return 0;
  qsizetype i = 0;
  while (i < value->size() && (value->at(i) == ' ' || value->at(i) == '\t')) ++i;
  std::int64_t n = 0;
  bool any = false;
  for (; i < value->size() && value->at(i) >= '0' && value->at(i) <= '9'; ++i) {
    n = n * 10 + (value->at(i) - '0');
    if (n > std::numeric_limits<std::int32_t>::max()) return 0;
    any = true;
  }
  return any ? std::int32_t(n) : 0;
}

}  // namespace

std::int32_t metaIntFrom(QByteArrayView headers) { return positiveHeaderNumber(headers, "icy-metaint:"); }

std::int32_t bitRateFrom(QByteArrayView headers) { return positiveHeaderNumber(headers, "icy-br:"); }

std::optional<QString> stationName(QByteArrayView headers) {
  const auto name = headerValue(headers, "icy-name:");
  if (!name) return std::nullopt;
  return decodeText(*name);
}

QString stationNameText(QByteArrayView headers) { return stationName(headers).value_or(QStringLiteral("unknown station")); }

QString bitrateText(QByteArrayView headers) {
  const auto br = headerValue(headers, "icy-br:");
  return QStringLiteral("Bitrate: ") + (br ? decodeText(*br) + QStringLiteral(" Kbps") : QStringLiteral("unknown bitrate"));
}

std::optional<QByteArray> streamTitle(QByteArrayView metadata) {
  constexpr QByteArrayView key("StreamTitle=");
  const qsizetype at = metadata.indexOf(key);
  if (at < 0) return std::nullopt;
  QByteArrayView rest = metadata.sliced(at + key.size());
  // A quoted title runs to the "';" that closes it (its own ";" and "'" do
  // not end it), the closing quote kept.
  const qsizetype quote = rest.startsWith('\'') ? closingTitleQuote(rest.sliced(1)) : -1;
  qsizetype end = quote >= 0 ? quote + 2 : rest.indexOf(';');
  if (end < 0) end = rest.indexOf('\0');
  return (end < 0 ? rest : rest.first(end)).toByteArray();
}

QString titleText(QByteArrayView metadata) {
  const auto title = streamTitle(metadata);
  return QStringLiteral("Title: ") +
         (title ? decodeCharacterReferences(decodeText(*title)) : QStringLiteral("Title not Available"));
}

}  // namespace kirasol::recorder
