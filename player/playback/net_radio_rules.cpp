#include "player/playback/net_radio_rules.h"

#include "common/text_codec.h"
#include "common/text_rules.h"

#include <cstring>

namespace kirasol {

QString stationUnreachableMessage() { return QStringLiteral("ไม่สามารถติดต่อเซิฟเวอร์เรดิโอได้"); }

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
  const QString rest = meta.mid(kPrefix.size());
  const qsizetype semicolon = rest.indexOf(QLatin1Char(';'));
  if (semicolon >= 1) return rest.left(semicolon - 1);
  // No ";" at all, or ";" first: there is no length to cut by, so show what
  // there is before any ";" and drop a closing quote.
  QString title = semicolon < 0 ? rest : QString();
  if (title.endsWith(QLatin1Char('\''))) title.chop(1);
  return title;
}

QString cpuText(float percent) {
  const double hundredths = roundHalfEven(static_cast<double>(percent) * 100.0);
  return QString::number(hundredths / 100.0, 'f', 2);
}

int stationUrlIndex(int preset) { return preset < 5 ? preset * 2 : preset * 2 - 9; }

}  // namespace kirasol
