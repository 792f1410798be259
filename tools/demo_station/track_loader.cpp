#include "track_loader.h"

#include "common/text_codec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kirasol::station {

namespace {

std::variant<QByteArray, QString> readTrackFile(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QStringLiteral("cannot read track %1: %2").arg(path, f.errorString());
  return f.readAll();
}

}  // namespace

int mpegBitRateKbps(const QByteArray &bytes) {
  qsizetype at = 0;
  if (bytes.size() >= 10 && bytes.startsWith("ID3")) {
    // ID3v2 size: four 7-bit bytes, plus the 10-byte header (and a footer when flagged).
    const auto b = [&](int i) { return static_cast<unsigned char>(bytes[i]); };
    at = 10 + ((b(6) & 0x7F) << 21 | (b(7) & 0x7F) << 14 | (b(8) & 0x7F) << 7 | (b(9) & 0x7F));
    if (b(5) & 0x10) at += 10;
  }
  if (at + 4 > bytes.size()) return 0;
  const auto h0 = static_cast<unsigned char>(bytes[at]);
  const auto h1 = static_cast<unsigned char>(bytes[at + 1]);
  const auto h2 = static_cast<unsigned char>(bytes[at + 2]);
  if (h0 != 0xFF || (h1 & 0xE0) != 0xE0) return 0;
  const int version = (h1 >> 3) & 3;  // 0 = 2.5, 1 = reserved, 2 = 2, 3 = 1
  const int layer = (h1 >> 1) & 3;    // 1 = III, 2 = II, 3 = I, 0 = reserved
  const int index = h2 >> 4;
  if (version == 1 || layer == 0 || index == 0 || index == 15) return 0;
  static constexpr int v1[3][15] = {
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // layer III
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // layer II
      {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}}; // layer I
  static constexpr int v2[2][15] = {
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // layers II, III
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256}};    // layer I
  if (version == 3) return v1[layer - 1][index];
  return v2[layer == 3 ? 1 : 0][index];
}

std::variant<TrackList, QString> loadTracks(const QString &folder) {
  const QDir dir(folder);
  if (!dir.exists()) return QStringLiteral("tracks folder %1 does not exist").arg(folder);
  auto tracks = std::make_shared<std::vector<StreamTrack>>();
  QFile list(dir.filePath(QStringLiteral("tracks.txt")));
  if (list.exists()) {
    if (!list.open(QIODevice::ReadOnly)) return QStringLiteral("cannot read %1").arg(list.fileName());
    const QStringList lines = decodeText(list.readAll()).split(u'\n');
    for (int n = 0; n < lines.size(); ++n) {
      const QString line = lines[n].trimmed();
      if (line.isEmpty() || line.startsWith(u'#')) continue;
      const QStringList fields = line.split(u'|');
      const QString name = fields[0].trimmed();
      if (name.isEmpty() || name.contains(u'/') || name.startsWith(u'.'))
        return QStringLiteral("%1 line %2: bad file name").arg(list.fileName()).arg(n + 1);
      StreamTrack t;
      t.file = name;
      t.title = fields.size() > 1 ? fields[1].trimmed() : QFileInfo(name).completeBaseName();
      t.frequency = fields.size() > 2 ? fields[2].trimmed().toInt() : 0;
      auto bytes = readTrackFile(dir.filePath(name));
      if (auto *error = std::get_if<QString>(&bytes)) return *error;
      t.bytes = std::get<QByteArray>(bytes);
      if (!t.bytes.isEmpty()) tracks->push_back(std::move(t));
    }
  } else {
    const QStringList names = dir.entryList({QStringLiteral("*.mp3")}, QDir::Files, QDir::Name);
    for (const QString &name : names) {
      auto bytes = readTrackFile(dir.filePath(name));
      if (auto *error = std::get_if<QString>(&bytes)) return *error;
      StreamTrack t{name, QFileInfo(name).completeBaseName(), 0, std::get<QByteArray>(bytes)};
      if (!t.bytes.isEmpty()) tracks->push_back(std::move(t));
    }
  }
  if (tracks->empty()) return QStringLiteral("no playable tracks in %1").arg(folder);
  return TrackList(std::move(tracks));
}

}  // namespace kirasol::station
