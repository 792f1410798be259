#include "player/recorder/recording_files.h"

#include "common/text_rules.h"

#include <QFileInfo>
#include <limits>

namespace kirasol::recorder {

namespace {
// Room under the usual 255-byte name limit for " (9999)" and a long extension.
constexpr qsizetype kMaxNameBytes = 200;
// " (9999)" is the highest number a name gets.
constexpr int kMaxNumber = 10000;
// Names whose next free number is remembered; past this the memory starts over.
constexpr qsizetype kMaxNameHints = 4096;
}

QString titleFileName(const QString &titleCaption) {
  const QStringList pieces = titleCaption.split(u':');
  QString name = pieces.size() > 1 ? pieces.at(1) : QString();
  qsizetype blanks = 0;
  while (blanks < name.size() && name.at(blanks) == u' ') ++blanks;
  return name.mid(blanks) + QStringLiteral(".mp3");
}

QString proposedFileName(const QTime &now) {
  const double seconds = now.msecsSinceStartOfDay() / 1000.0;
  return QStringLiteral("File%1.mp3").arg(qint64(roundHalfEven(seconds)));
}

QString safeFileName(const QString &name) {
  QString safe;
  safe.reserve(name.size());
  for (const QChar c : name) {
    const bool refused = c == u'/' || c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7f;
    safe.append(refused ? QChar(u'_') : c);
  }
  if (safe == QStringLiteral(".")) return QStringLiteral("_");
  if (safe == QStringLiteral("..")) return QStringLiteral("__");
  if (safe.toUtf8().size() <= kMaxNameBytes) return safe;

  const qsizetype dot = safe.lastIndexOf(u'.');
  QString ext = dot >= 0 ? safe.mid(dot) : QString();
  if (ext.toUtf8().size() > 16) ext.clear();
  QString base = dot >= 0 && !ext.isEmpty() ? safe.left(dot) : safe;
  const qsizetype budget = kMaxNameBytes - ext.toUtf8().size();
  while (!base.isEmpty() && base.toUtf8().size() > budget) {
    base.chop(base.size() >= 2 && base.at(base.size() - 1).isLowSurrogate() ? 2 : 1);
  }
  return base + ext;
}

QString numberedFileName(const QString &name, int n) {
  const qsizetype dot = name.lastIndexOf(u'.');
  const QString suffix = QStringLiteral(" (%1)").arg(n);
  if (dot < 0) return name + suffix;
  return name.left(dot) + suffix + name.mid(dot);
}

QString outputFolder(const QString &outPathText) {
  if (outPathText.endsWith(u'/')) return outPathText;
  if (outPathText.endsWith(u'\\')) return outPathText.chopped(1) + u'/';
  return outPathText + u'/';
}

QString sizeText(std::int32_t bytesWritten) {
  return QStringLiteral("Size: %1 kb.").arg(bytesWritten / 1024);
}

QString timeText(qint64 seconds) {
  return QStringLiteral("Time: %1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar(u'0'));
}

std::int32_t addSaturated(std::int32_t count, qsizetype added) {
  const qint64 sum = qint64(count) + added;
  return sum > std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                         : std::int32_t(sum);
}

RecordingFile::OpenResult RecordingFile::open(const QString &folder, const QString &name) {
  close();
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
    return {false, name, QStringLiteral("ไม่พบโฟลเดอร์ที่จะบันทึก: %1").arg(folder)};
  }
  const QString key = folder + name;
  // Numbers below the hint were taken when last tried; a file removed since
  // leaves a gap that is not refilled, which costs nothing.
  if (nextNumber_.size() > kMaxNameHints) nextNumber_.clear();
  int &hint = nextNumber_[key];
  for (int n = qMax(hint, 1); n < kMaxNumber; ++n) {
    const QString candidate = n == 1 ? name : numberedFileName(name, n);
    file_.setFileName(folder + candidate);
    // NewOnly: an existing file is never opened, so no earlier recording is
    // overwritten, not even by a file that appears between check and open.
    if (file_.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
      hint = n + 1;
      return {true, candidate, {}};
    }
    if (!QFileInfo::exists(folder + candidate)) {
      hint = n;
      return {false, candidate, QStringLiteral("ไม่สามารถสร้างไฟล์ได้: %1\n\n%2").arg(folder + candidate, file_.errorString())};
    }
  }
  hint = kMaxNumber;
  return {false, name, QStringLiteral("ไม่สามารถสร้างไฟล์ได้: %1").arg(folder + name)};
}

bool RecordingFile::write(QByteArrayView bytes) {
  if (!file_.isOpen()) return false;
  qsizetype done = 0;
  while (done < bytes.size()) {
    const qint64 n = file_.write(bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

bool RecordingFile::dropTail(qint64 bytes) {
  if (!file_.isOpen() || bytes <= 0) return false;
  const qint64 size = file_.size();
  if (bytes > size || !file_.resize(size - bytes)) return false;
  return file_.seek(size - bytes);
}

void SongRotation::fileOpened(const QString &title) {
  fileTitle_ = title;
  pending_ = false;
  credit_ -= kAudioPerCut;
  if (credit_ < 0) credit_ = 0;
}

void SongRotation::titleArrived(const QString &title) {
  // A typed name (null) has no title: any announced title starts a song file.
  pending_ = fileTitle_.isNull() || title != fileTitle_;
}

void SongRotation::audioWritten(qsizetype bytes) {
  credit_ = qMin(credit_ + bytes, kQuickCuts * kAudioPerCut);
}

}  // namespace kirasol::recorder
