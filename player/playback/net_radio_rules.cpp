#include "player/playback/net_radio_rules.h"

#include "common/stream_title.h"
#include "common/text_codec.h"
#include "common/text_rules.h"

#include <cstring>

namespace kirasol {

QString stationUnreachableMessage() { return QStringLiteral("ไม่สามารถติดต่อเซิฟเวอร์เรดิโอได้"); }

QString stationFailureCause(int errorCode, int lastStatus) {
  switch (errorCode) {
    case BASS_ERROR_FILEOPEN:
      // The server answered, but with an error for this address.
      if (lastStatus == 404 || lastStatus == 410) return QStringLiteral("สาเหตุ: ไม่พบสถานีนี้บนเซิฟเวอร์ (404)");
      if (lastStatus >= 400)
        return QStringLiteral("สาเหตุ: เซิฟเวอร์ปฏิเสธการเชื่อมต่อ (%1)").arg(lastStatus);
      return QStringLiteral("สาเหตุ: ติดต่อเซิฟเวอร์ไม่ได้ (เซิฟเวอร์ไม่ตอบรับหรือไม่มีอยู่)");
    case BASS_ERROR_TIMEOUT:
    case BASS_ERROR_NONET:
      return QStringLiteral("สาเหตุ: ติดต่อเซิฟเวอร์ไม่ได้ (เซิฟเวอร์ไม่ตอบสนอง)");
    case BASS_ERROR_SSL:
      return QStringLiteral("สาเหตุ: ใบรับรองความปลอดภัยของเซิฟเวอร์ไม่น่าเชื่อถือ");
    case BASS_ERROR_FILEFORM:
    case BASS_ERROR_CODEC:
    case BASS_ERROR_NOTAUDIO:
      return QStringLiteral("สาเหตุ: ไม่รองรับรูปแบบเสียงของสถานีนี้ (เล่นได้เฉพาะ MP3)");
    case BASS_ERROR_ILLPARAM:
    case BASS_ERROR_PROTOCOL:
      return QStringLiteral("สาเหตุ: ที่อยู่สถานีไม่ถูกต้อง");
    default:
      return {};
  }
}

int statusCodeOfBlock(const char *block) {
  if (block == nullptr) return 0;
  // The code is the second word of the status line.
  const char *space = std::strchr(block, ' ');
  if (space == nullptr) return 0;
  int code = 0;
  for (const char *p = space + 1; p < space + 4; ++p) {
    if (*p < '0' || *p > '9') return 0;
    code = code * 10 + (*p - '0');
  }
  return code;
}

QString StringFromAnsiPtr(const char *address) {
  if (address == nullptr) return {};
  const std::size_t n = std::strlen(address);
  if (n == 0) return {};
  return decodeText(QByteArrayView(address, static_cast<qsizetype>(n)));
}

int bufferPercentage(QWORD held, QWORD end) {
  // The positions arrive as 64-bit values; the status logic works on their
  // 32-bit form so that the library's -1 keeps its meaning.
  const auto held32 = static_cast<std::int32_t>(static_cast<std::uint32_t>(held));
  const auto end32 = static_cast<std::int32_t>(static_cast<std::uint32_t>(end));
  if (end32 == 0) return 0;
  // Widened so that a large buffer cannot overflow the product.
  const double share = static_cast<double>(static_cast<std::int64_t>(held32) * 100) / end32;
  return static_cast<int>(roundHalfEven(share));
}

QString reconnectingText(int attempt) {
  return QStringLiteral("reconnecting... (") + QString::number(attempt) + QLatin1Char(')');
}

QString bufferingText(int percentage) {
  return QStringLiteral("buffering... ") + QString::number(percentage) + QLatin1Char('%');
}

StationHeaders parseStationHeaders(const char *block) {
  StationHeaders result;
  if (block == nullptr) return result;
  static constexpr char kName[] = "icy-name:";
  static constexpr char kBitRate[] = "icy-br:";
  for (const char *line = block; *line != '\0'; line += std::strlen(line) + 1) {
    if (std::strncmp(line, kName, sizeof kName - 1) == 0)
      result.name = StringFromAnsiPtr(line + sizeof kName - 1);
    else if (std::strncmp(line, kBitRate, sizeof kBitRate - 1) == 0)
      result.bitRate = StringFromAnsiPtr(line + sizeof kBitRate - 1);
  }
  return result;
}

QString bitRateText(const QString &value) { return QStringLiteral("bitrate: ") + value; }

std::optional<QString> songTitleFromMeta(const QString &meta) {
  static const QString kPrefix = QStringLiteral("StreamTitle='");
  if (!meta.startsWith(kPrefix)) return std::nullopt;
  const QStringView rest = QStringView(meta).mid(kPrefix.size());
  const qsizetype quote = closingTitleQuote(rest);
  // Without a closing "';" the title runs to the end, less a closing quote.
  QStringView title = quote >= 0 ? rest.left(quote) : rest;
  if (quote < 0 && title.endsWith(u'\'')) title.chop(1);
  return decodeCharacterReferences(title.toString());
}

QString cpuText(float percent) {
  const double hundredths = roundHalfEven(static_cast<double>(percent) * 100.0);
  return QString::number(hundredths / 100.0, 'f', 2);
}

int stationUrlIndex(int preset) { return preset < 5 ? preset * 2 : preset * 2 - 9; }

}  // namespace kirasol
