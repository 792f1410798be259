#include "player/shell/command_line.h"

#include "common/help_or_version.h"
#include "common/text_codec.h"

#include <kirasol/build_settings.h>

#include <station_playlist.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace kirasol {

namespace {

bool isStreamAddress(const QString &text) {
  const QUrl url(text, QUrl::StrictMode);
  const QString scheme = url.scheme().toLower();
  return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
         !url.host().isEmpty();
}

// The entries of a local .pls, .m3u or XSPF playlist, in order, read by the
// same rules as one the engine fetches (a byte-order mark is ignored).
QStringList playlistEntries(const QByteArray &document) {
  QStringList entries;
  for (const std::string &entry : audio::parsePlaylist(document.toStdString(), {}))
    entries << decodeText(QByteArrayView(entry.data(), qsizetype(entry.size())));
  return entries;
}

}  // namespace

QString versionLine() { return QStringLiteral("Kirasol Radio %1\n").arg(QLatin1String(settings::kProductVersion)); }

QString commandLineHelp() {
  return QStringLiteral(
      "Usage: kirasol-radio [options] [address]\n"
      "Kirasol Radio: the station's internet radio player.\n"
      "\n"
      "Options:\n"
      "  -h, --help       Show this help and exit.\n"
      "  -v, --version    Show the version and exit.\n"
      "  --station URL    Play this stream address instead of the built-in station.\n"
      "  --update-url URL Check this update folder (ending in /update/) instead of\n"
      "                   the built-in one.\n"
      "\n"
      "Arguments:\n"
      "  address          A stream address (http:// or https://), the address of a\n"
      "                   .pls or .m3u playlist, or a local playlist file; played\n"
      "                   instead of the built-in station.\n");
}

std::optional<QString> immediateAnswer(const QStringList &arguments) {
  return helpOrVersion(arguments, commandLineHelp(), versionLine());
}

std::optional<QString> stationFromArgument(const QString &argument, const QString &workingDir, QString &error) {
  if (isStreamAddress(argument)) return argument;
  const QUrl url(argument);
  QString path = argument;
  if (url.isLocalFile()) {
    path = url.toLocalFile();
  } else if (!url.scheme().isEmpty()) {
    error = QStringLiteral("เปิดที่อยู่นี้ไม่ได้ (ใช้ได้เฉพาะ http:// หรือ https://):\n%1").arg(argument);
    return std::nullopt;
  }
  path = QDir(workingDir).absoluteFilePath(path);
  QFile file(path);
  if (QFileInfo(path).size() > 1024 * 1024 || !file.open(QIODevice::ReadOnly)) {
    error = QStringLiteral("อ่านไฟล์เพลย์ลิสต์ไม่ได้:\n%1").arg(path);
    return std::nullopt;
  }
  for (const QString &entry : playlistEntries(file.readAll())) {
    if (isStreamAddress(entry)) return entry;
  }
  error = QStringLiteral("ไม่พบที่อยู่สถานี (http:// หรือ https://) ในไฟล์:\n%1").arg(path);
  return std::nullopt;
}

}  // namespace kirasol
