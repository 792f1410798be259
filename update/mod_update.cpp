#include "update/mod_update.h"

#include "common/atomic_file.h"
#include "common/text_codec.h"
#include "common/text_rules.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

namespace kirasol::update {

namespace {

const QString kVersionFile = QStringLiteral("version.dat");
const QString kFilesFile = QStringLiteral("files.dat");
const QString kServerVersionCopy = QStringLiteral("vers.dat");
const QString kServerFilesCopy = QStringLiteral("update.dat");

// Lines of a text file that may end in CR LF, LF or CR; a final line break
// does not start another line.
QStringList textLines(const QByteArray &bytes) {
  QString text = decodeText(bytes);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(u'\r', u'\n');
  QStringList lines = text.split(u'\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

bool readWholeFile(const QString &path, QByteArray &bytes) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  bytes = file.readAll();
  return true;
}

bool isInside(const QString &root, const QString &path) { return path.startsWith(root + u'/'); }

}  // namespace

FieldList SplitFields(const QString &line, QChar separator) {
  FieldList fields;
  qsizetype p = 0;
  for (int k = 0; k < kFieldCount; ++k) {
    qsizetype q = line.indexOf(separator, p);
    while (q == p) {  // empty fields are skipped
      ++p;
      q = line.indexOf(separator, p);
    }
    if (q < 0) {
      fields[k] = line.mid(p);
      break;
    }
    fields[k] = line.mid(p, q - p);
    p = q + 1;
  }
  return fields;
}

QString listedSha256(const FieldList &fields) {
  static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{64}$"));
  return hex.match(fields[2]).hasMatch() ? fields[2].toLower() : QString();
}

bool isSafeFileName(const QString &workDir, const QString &name) {
  if (name.trimmed().isEmpty() || name.contains(QStringLiteral("..")) || name.endsWith(u'/')) return false;
  if (QDir::isAbsolutePath(name)) return false;
  for (const QChar c : name) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7f) return false;
  }
  const QString root = QDir(workDir).canonicalPath();
  if (root.isEmpty()) return false;
  const QString target = QDir::cleanPath(root + u'/' + name);
  if (!isInside(root, target)) return false;
  // Symbolic links may lead out of the folder: resolve the target, or its
  // nearest existing folder when it does not exist yet.
  const QFileInfo info(target);
  if (info.exists() || info.isSymLink()) {
    const QString resolved = info.canonicalFilePath();
    return !resolved.isEmpty() && isInside(root, resolved);
  }
  QString folder = info.absolutePath();
  while (!QFileInfo::exists(folder)) folder = QFileInfo(folder).absolutePath();
  const QString resolved = QFileInfo(folder).canonicalFilePath();
  return resolved == root || isInside(root, resolved);
}

ModUpdate::ModUpdate(UrlFetcher &fetcher, QString updateBaseUrl, QString workDir, UpdateView &view)
    : fetcher_(fetcher), updateBaseUrl_(std::move(updateBaseUrl)), workDir_(std::move(workDir)), view_(view) {}

QString ModUpdate::path(const QString &name) const { return QDir(workDir_).filePath(name); }

void ModUpdate::ReadCurrentVersion() {
  currentVersion_.clear();
  QByteArray bytes;
  if (readWholeFile(path(kVersionFile), bytes)) {
    const QStringList lines = textLines(bytes);
    if (!lines.isEmpty()) currentVersion_ = lines.first();
  }
  if (!currentVersion_.isEmpty()) {
    view_.setCurrentVersionCaption(QStringLiteral("ปัจจุบัน ") + currentVersion_);
    view_.appendMessage(QStringLiteral("เวอร์ชั่นปัจจุบันของคุณ ") + currentVersion_);
  } else {
    view_.setCurrentVersionCaption(QStringLiteral("ไม่พบไฟล์เวอร์ชั่น"));
  }
}

bool ModUpdate::FetchFile(const QString &remote, const QString &local, const QString &sha256) {
  // The name is appended as a path, so "#", "?" and blanks in it stay part
  // of the file name.
  QUrl url(updateBaseUrl_);
  url.setPath(url.path() + remote);
  const FetchResult result = fetcher_.fetch(url);
  bool written = false;
  if (!result.ok) {
    view_.appendMessage(QStringLiteral("ดาวน์โหลดไฟล์ %1 ไม่สำเร็จ (%2)").arg(remote, result.errorText));
  } else if (!sha256.isEmpty() &&
             QCryptographicHash::hash(result.body, QCryptographicHash::Sha256).toHex() != sha256.toLatin1()) {
    view_.appendMessage(QStringLiteral("ไฟล์ %1 ไม่ตรงกับ SHA-256 ที่ระบุไว้ จึงไม่ได้ติดตั้ง").arg(remote));
  } else {
    const QString target = path(local);
    QString error;
    written = QDir().mkpath(QFileInfo(target).absolutePath()) && replaceFileAtomically(target, result.body, &error);
    if (!written) view_.appendMessage(QStringLiteral("บันทึกไฟล์ %1 ไม่สำเร็จ (%2)").arg(local, error));
  }
  view_.processPendingEvents();
  return written;
}

void ModUpdate::LoadFileList() {
  QByteArray bytes;
  if (!readWholeFile(path(kFilesFile), bytes)) return;
  int i = 0;
  for (const QString &line : textLines(bytes)) {
    // The table has 51 slots; SaveFileList never writes more lines, so
    // further lines can only come from elsewhere and are not recorded.
    if (i >= kFileTableSlots) break;
    fields_ = SplitFields(line, u',');
    if (!fields_[0].isEmpty()) fileTable_[i] = {fields_[0], fields_[1]};
    ++i;
  }
}

bool ModUpdate::UpdateFile(const QString &name, const QString &version, const QString &sha256) {
  if (!isSafeFileName(workDir_, name)) {
    view_.appendMessage(QStringLiteral("ไม่อนุญาตให้ติดตั้งไฟล์ชื่อ ") + name);
    return true;
  }
  for (FileEntry &slot : fileTable_) {
    if (slot.Name != name) continue;
    if (ordinalCompare(slot.Version, version) >= 0) return true;
    view_.appendMessage(QStringLiteral("อัพเดท ") + name + QStringLiteral(" เป็น ") + version);
    if (!FetchFile(name, name, sha256)) return false;
    slot.Version = version;
    return true;
  }
  view_.appendMessage(QStringLiteral("ดาวโหลดไฟล์ ") + name);
  if (!FetchFile(name, name, sha256)) return false;
  for (FileEntry &slot : fileTable_) {
    if (slot.Name.isEmpty()) {
      slot = {name, version};
      break;
    }
  }
  return true;
}

bool ModUpdate::SaveFileList() {
  QByteArray bytes;
  for (const FileEntry &slot : fileTable_) {
    if (!slot.Name.isEmpty()) bytes += (slot.Name + u',' + slot.Version).toUtf8() + "\r\n";
  }
  QString error;
  if (replaceFileAtomically(path(kFilesFile), bytes, &error)) return true;
  view_.appendMessage(QStringLiteral("บันทึกไฟล์ %1 ไม่สำเร็จ (%2)").arg(kFilesFile, error));
  return false;
}

RunResult ModUpdate::finishRun(RunResult result) {
  if (result == RunResult::Failed) view_.appendMessage(QStringLiteral("หยุดการอัพเดท กรุณาลองใหม่อีกครั้งค่ะ"));
  view_.processPendingEvents();
  QFile::remove(path(kServerVersionCopy));
  QFile::remove(path(kServerFilesCopy));
  running_ = false;
  return result;
}

RunResult ModUpdate::Run() {
  // Pending events run during a run, so the button can be pressed again;
  // a second run on top of the first would share its files.
  if (running_) return RunResult::Ignored;
  running_ = true;

  view_.appendMessage(QStringLiteral("กำลังตรวจสอบเวอร์ชั่น"));
  if (!FetchFile(QStringLiteral("version.dat"), kServerVersionCopy)) return finishRun(RunResult::Failed);
  QByteArray bytes;
  readWholeFile(path(kServerVersionCopy), bytes);
  const std::optional<QString> latest = firstField(decodeText(bytes));
  if (!latest || latest->isEmpty()) {
    view_.appendMessage(QStringLiteral("ไม่พบเวอร์ชั่นล่าสุดบนเซิร์ฟเวอร์"));
    return finishRun(RunResult::NoVersionFound);
  }
  latestVersion_ = *latest;
  view_.setLatestVersionCaption(latestVersion_);
  view_.appendMessage(QStringLiteral("เวอร์ชั่นล่าสุด ") + latestVersion_);

  if (latestVersion_ == currentVersion_) {
    view_.appendMessage(QStringLiteral("โปรแกรมคุณเป็นรุ่นล่าสุดแล้วค่ะ"));
    return finishRun(RunResult::AlreadyCurrent);
  }

  view_.appendMessage(QStringLiteral("ดาวน์โหลดไฟล์อัพเดท"));
  if (!FetchFile(QStringLiteral("files.dat"), kServerFilesCopy)) return finishRun(RunResult::Failed);
  view_.processPendingEvents();
  view_.appendMessage(QStringLiteral("ตรวจสอบสอบไฟล์เพื่อดาวน์โหลด"));
  LoadFileList();
  view_.processPendingEvents();

  bytes.clear();
  readWholeFile(path(kServerFilesCopy), bytes);
  for (const QString &line : textLines(bytes)) {
    fields_ = SplitFields(line, u',');
    if (fields_[0].trimmed().isEmpty()) continue;
    if (!UpdateFile(fields_[0], fields_[1], listedSha256(fields_))) {
      // What was installed before the failure is recorded, so the next run
      // does not fetch it again; "version.dat" is left for that next run.
      SaveFileList();
      return finishRun(RunResult::Failed);
    }
  }
  if (!SaveFileList()) return finishRun(RunResult::Failed);
  QString error;
  if (!replaceFileAtomically(path(kVersionFile), (latestVersion_ + QStringLiteral("\r\n")).toUtf8(), &error)) {
    view_.appendMessage(QStringLiteral("บันทึกไฟล์ %1 ไม่สำเร็จ (%2)").arg(kVersionFile, error));
    return finishRun(RunResult::Failed);
  }
  view_.appendMessage(QStringLiteral("โปรแกรมของคุณอัพเดทเป็นเวอร์ชั่น ") + latestVersion_);
  view_.setCurrentVersionCaption(QStringLiteral("Version ") + latestVersion_);
  view_.appendMessage(QStringLiteral("อัพเดทไฟล์เรียบร้อยแล้วค่ะ"));
  return finishRun(RunResult::Updated);
}

}  // namespace kirasol::update
