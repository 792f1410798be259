#include "update/mod_update.h"

#include "common/atomic_file.h"
#include "common/text_codec.h"
#include "common/text_rules.h"
#include "update/staged_install.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QUrl>
#include <algorithm>

namespace kirasol::update {

namespace {

const QString kVersionFile = QStringLiteral("version.dat");
const QString kFilesFile = QStringLiteral("files.dat");
// Temporary copies of the server's files that earlier versions of this
// program kept in the folder; a run removes any left behind.
const QString kServerVersionCopy = QStringLiteral("vers.dat");
const QString kServerFilesCopy = QStringLiteral("update.dat");
const QString kStagingName = QStringLiteral(".kirasol-update");
// Beside the staging folder, which every run empties and removes.
const QString kLockName = QStringLiteral(".kirasol-update.lock");
// The signing time of the set installed last: no earlier set is taken.
const QString kSignedFile = QStringLiteral("signed.dat");

const QString kStoppedRetry = QStringLiteral("หยุดการอัพเดท กรุณาลองใหม่อีกครั้งค่ะ");
const QString kStoppedRefused = QStringLiteral("หยุดการอัพเดท ไม่มีไฟล์ใดถูกเปลี่ยนแปลง กรุณาแจ้งผู้ดูแลเซิร์ฟเวอร์อัพเดทค่ะ");
const QString kStoppedCanceled = QStringLiteral("ยกเลิกการอัพเดทแล้ว ไม่มีไฟล์ใดถูกเปลี่ยนแปลงค่ะ");
const QString kStoppedBusy = QStringLiteral("มีโปรแกรมอัพเดทอีกตัวกำลังอัพเดทโฟลเดอร์นี้อยู่ ไม่มีไฟล์ใดถูกเปลี่ยนแปลง "
                                            "กรุณารอให้เสร็จก่อนแล้วลองใหม่อีกครั้งค่ะ");

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

QString sha256OfFile(const QString &path) {
  QFile file(path);
  QCryptographicHash hash(QCryptographicHash::Sha256);
  if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) return {};
  return QString::fromLatin1(hash.result().toHex());
}

// A name that stays inside the folder as written but leaves it through a
// symbolic link on the way.
bool leadsOutThroughLink(const QString &workDir, const QString &name) {
  if (QDir::isAbsolutePath(name) || name.contains(QStringLiteral(".."))) return false;
  const QString root = QDir(workDir).canonicalPath();
  QString at = QDir::cleanPath(root + u'/' + name);
  for (; isInside(root, at); at = QFileInfo(at).absolutePath()) {
    if (QFileInfo(at).isSymLink()) return true;
  }
  return false;
}

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

bool isReservedFileName(const QString &name) {
  const QString clean = QDir::cleanPath(name);
  return clean == kVersionFile || clean == kFilesFile || clean == kServerVersionCopy || clean == kServerFilesCopy ||
         clean == kSignedFile || clean == kLockName || clean == kStagingName || clean.startsWith(kStagingName + u'/');
}

ModUpdate::ModUpdate(UrlFetcher &fetcher, QString updateBaseUrl, QString workDir, UpdateView &view,
                     UpdateOptions options)
    : fetcher_(fetcher),
      updateBaseUrl_(std::move(updateBaseUrl)),
      workDir_(std::move(workDir)),
      view_(view),
      options_(std::move(options)) {
  if (!options_.publicKey.isEmpty()) key_ = parseMinisignPublicKey(options_.publicKey, &keyError_);
}

ModUpdate::~ModUpdate() = default;

QString ModUpdate::path(const QString &name) const { return QDir(workDir_).filePath(name); }

bool ModUpdate::folderWritable() {
  QString error;
  if (folderIsWritable(workDir_, &error)) return true;
  // A folder of a system-wide install belongs to the package manager; the
  // listener can do nothing about it here, so the text says who can.
  view_.appendMessage(QStringLiteral("ไม่สามารถเขียนไฟล์ในโฟลเดอร์โปรแกรม %1 ได้ (%2)").arg(workDir_, error));
  view_.appendMessage(QStringLiteral("โปรแกรมนี้ติดตั้งและดูแลโดยระบบ จึงอัพเดทจากที่นี่ไม่ได้"));
  view_.appendMessage(QStringLiteral("กรุณาให้ผู้ดูแลระบบอัพเดท หรืออัพเดทผ่านตัวจัดการแพ็กเกจ (package manager) ค่ะ"));
  return false;
}

bool ModUpdate::lockFolder(bool &busy) {
  lock_ = std::make_unique<QLockFile>(path(kLockName));
  // An install may take minutes: only a lock whose process is gone is stale.
  lock_->setStaleLockTime(0);
  if (lock_->tryLock(0)) return true;
  busy = lock_->error() == QLockFile::LockFailedError;
  lock_.reset();
  if (!busy)
    view_.appendMessage(QStringLiteral("สร้างไฟล์ล็อก %1 ไม่ได้").arg(path(kLockName)));
  return false;
}

bool ModUpdate::recoverInterruptedInstall() {
  StagedInstall staging(workDir_);
  if (!QFileInfo::exists(staging.stagingFolder())) return true;
  QString error;
  switch (staging.recover(&error)) {
    case StagedInstall::Recovery::NothingToDo:
      return true;
    case StagedInstall::Recovery::Finished:
      view_.appendMessage(QStringLiteral("ติดตั้งอัพเดทที่ค้างไว้จากครั้งก่อนเรียบร้อยแล้ว"));
      return true;
    case StagedInstall::Recovery::RolledBack:
      view_.appendMessage(
          QStringLiteral("อัพเดทที่ค้างไว้จากครั้งก่อนติดตั้งต่อไม่ได้ (%1) จึงคืนไฟล์เดิมทั้งหมดแล้ว").arg(error));
      return true;
    case StagedInstall::Recovery::Failed:
      break;
  }
  view_.appendMessage(QStringLiteral("อัพเดทที่ค้างไว้จากครั้งก่อนยังจัดการไม่ได้ (%1)").arg(error));
  return false;
}

void ModUpdate::ReadCurrentVersion() {
  const bool writable = folderIsWritable(workDir_);
  // The install of another updater in this folder is not an interrupted one.
  bool busy = false;
  if (writable) {
    if (lockFolder(busy)) {
      recoverInterruptedInstall();
      lock_.reset();
    } else if (busy) {
      view_.appendMessage(QStringLiteral("มีโปรแกรมอัพเดทอีกตัวกำลังอัพเดทโฟลเดอร์นี้อยู่"));
    }
  }
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
  if (!writable) folderWritable();
}

ModUpdate::Verdict ModUpdate::fetchList(const QString &remote, QByteArray &bytes, std::optional<SignedSet> &set) {
  const auto urlOf = [&](const QString &name) {
    // The name is appended as a path, so "#", "?" and blanks in it stay part
    // of the file name.
    QUrl url(updateBaseUrl_);
    url.setPath(url.path() + name);
    return url;
  };
  const FetchResult result = fetcher_.fetch(urlOf(remote));
  view_.processPendingEvents();
  if (cancelRequested_ || result.canceled) return Verdict::Canceled;
  if (!result.ok) {
    view_.appendMessage(QStringLiteral("ดาวน์โหลดไฟล์ %1 ไม่สำเร็จ (%2)").arg(remote, result.errorText));
    return Verdict::Failed;
  }
  if (key_) {
    const FetchResult signature = fetcher_.fetch(urlOf(remote + kSignatureSuffix));
    view_.processPendingEvents();
    if (cancelRequested_ || signature.canceled) return Verdict::Canceled;
    if (!signature.ok) {
      view_.appendMessage(QStringLiteral("ไม่พบลายเซ็นของ %1 บนเซิร์ฟเวอร์ (%2)").arg(remote, signature.errorText));
      // No answer at all may pass; an answer without the signature will not.
      return signature.httpStatus == 0 ? Verdict::Failed : Verdict::Refused;
    }
    QString error;
    set = verifySignedList(*key_, remote, result.body, signature.body, &error);
    if (!set) {
      view_.appendMessage(QStringLiteral("ลายเซ็นของ %1 ไม่ถูกต้อง (%2)").arg(remote, error));
      return Verdict::Refused;
    }
  }
  bytes = result.body;
  return Verdict::Ok;
}

bool ModUpdate::setAcceptable(const SignedSet &set, const QString &version) {
  const auto refuse = [&](const QString &why) {
    view_.appendMessage(why);
    return false;
  };
  if (set.version != version)
    return refuse(QStringLiteral("ลายเซ็นของ version.dat ระบุเวอร์ชั่น %1 ไม่ตรงกับไฟล์ (%2)").arg(set.version, version));
  const QDateTime now = QDateTime::currentDateTimeUtc();
  if (set.expiredAt(now))
    return refuse(QStringLiteral("ชุดอัพเดทบนเซิร์ฟเวอร์หมดอายุแล้วตั้งแต่ %1 (ลงลายเซ็นเมื่อ %2) "
                                 "เซิร์ฟเวอร์อาจส่งชุดเก่าที่ไม่ใช่ชุดล่าสุดมาให้")
                      .arg(setTimeText(set.expiresAt), setTimeText(set.signedAt)));
  QByteArray recorded;
  if (!readWholeFile(path(kSignedFile), recorded)) return true;  // nothing installed signed yet
  const QStringList lines = textLines(recorded);
  const std::optional<QDateTime> installedAt = parseSetTime(lines.value(0).trimmed());
  if (!installedAt)
    return refuse(QStringLiteral("อ่านเวลาลงลายเซ็นของชุดที่ติดตั้งอยู่จาก %1 ไม่ได้ (ไฟล์เสียหาย)").arg(path(kSignedFile)));
  if (set.signedAt < *installedAt)
    return refuse(QStringLiteral("ชุดอัพเดทบนเซิร์ฟเวอร์ลงลายเซ็นเมื่อ %1 ก่อนชุดที่ติดตั้งอยู่ (%2) "
                                 "จึงเป็นชุดเก่า ไม่ได้ติดตั้ง")
                      .arg(setTimeText(set.signedAt), setTimeText(*installedAt)));
  return true;
}

void ModUpdate::LoadFileList() {
  QByteArray bytes;
  if (!readWholeFile(path(kFilesFile), bytes)) return;
  int i = 0;
  for (const QString &line : textLines(bytes)) {
    // The table has 51 slots; the program never writes more lines, so
    // further lines can only come from elsewhere and are not recorded.
    if (i >= kFileTableSlots) break;
    fields_ = SplitFields(line, u',');
    if (!fields_[0].isEmpty()) fileTable_[i] = {fields_[0], fields_[1]};
    ++i;
  }
}

void ModUpdate::UpdateFile(const QString &name, const QString &version, const QString &sha256,
                           std::array<FileEntry, kFileTableSlots> &table, QList<Download> &downloads,
                           QStringList &refused) {
  if (!isSafeFileName(workDir_, name) || isReservedFileName(name) || QFileInfo(path(name)).isDir()) {
    view_.appendMessage(QStringLiteral("ไม่อนุญาตให้ติดตั้งไฟล์ชื่อ ") + name);
    if (leadsOutThroughLink(workDir_, name))
      view_.appendMessage(
          QStringLiteral("%1 ในโฟลเดอร์โปรแกรมเป็นลิงก์ที่ชี้ออกไปนอกโฟลเดอร์ จึงไม่เขียนทับผ่านลิงก์นี้").arg(name));
    refused << name;
    return;
  }
  QString announcement;
  // "./a.bin" is the file recorded as "a.bin": its record decides, so no
  // spelling of a name puts a lower version over the installed one.
  const QString clean = QDir::cleanPath(name);
  auto slot =
      std::find_if(table.begin(), table.end(), [&](const FileEntry &e) { return QDir::cleanPath(e.Name) == clean; });
  if (slot != table.end()) {
    if (ordinalCompare(slot->Version, version) >= 0) return;
    announcement = QStringLiteral("อัพเดท ") + name + QStringLiteral(" เป็น ") + version;
    slot->Version = version;
  } else {
    announcement = QStringLiteral("ดาวโหลดไฟล์ ") + name;
    // With no free slot the file is still fetched, just not recorded.
    slot = std::find_if(table.begin(), table.end(), [](const FileEntry &e) { return e.Name.isEmpty(); });
    if (slot != table.end()) *slot = {name, version};
  }
  if (key_ && sha256.isEmpty()) {
    // The signature vouches for the list; only a hash in it vouches for
    // the file.
    view_.appendMessage(QStringLiteral("ไฟล์ %1 ไม่มี SHA-256 ในรายการที่ลงลายเซ็นไว้ จึงไม่ได้ติดตั้ง").arg(name));
    refused << name;
    return;
  }
  downloads.append({name, sha256, announcement});
}

ModUpdate::Verdict ModUpdate::FetchFile(const Download &download, const QString &stagedPath) {
  QUrl url(updateBaseUrl_);
  url.setPath(url.path() + download.name);
  FetchLimits limits;
  limits.maxBytes = options_.maxFileBytes;
  limits.minBytesPerSecond = options_.minBytesPerSecond;
  limits.rateWindow = options_.rateWindow;
  // Without a hash only the length can tell a whole file from a cut one.
  limits.requireKnownLength = download.sha256.isEmpty();
  FetchResult result;
  if (QDir().mkpath(QFileInfo(stagedPath).absolutePath())) {
    result = fetcher_.fetchToFile(url, stagedPath, limits);
  } else {
    result.errorText = QStringLiteral("%1 cannot be made").arg(QFileInfo(stagedPath).absolutePath());
  }
  view_.processPendingEvents();
  if (cancelRequested_ || result.canceled) return Verdict::Canceled;
  if (!result.ok) {
    view_.appendMessage(QStringLiteral("ดาวน์โหลดไฟล์ %1 ไม่สำเร็จ (%2)").arg(download.name, result.errorText));
    return Verdict::Failed;
  }
  if (!download.sha256.isEmpty() && sha256OfFile(stagedPath) != download.sha256) {
    view_.appendMessage(QStringLiteral("ไฟล์ %1 ไม่ตรงกับ SHA-256 ที่ระบุไว้ จึงไม่ได้ติดตั้ง").arg(download.name));
    return Verdict::Refused;
  }
  return Verdict::Ok;
}

QByteArray ModUpdate::fileListText(const std::array<FileEntry, kFileTableSlots> &table) const {
  QByteArray bytes;
  for (const FileEntry &slot : table) {
    if (!slot.Name.isEmpty()) bytes += (slot.Name + u',' + slot.Version).toUtf8() + "\r\n";
  }
  return bytes;
}

void ModUpdate::Cancel() {
  if (!running_) return;
  cancelRequested_ = true;
  fetcher_.cancel();
}

RunResult ModUpdate::finishRun(RunResult result, const QStringList &troubled) {
  if (!troubled.isEmpty()) view_.appendMessage(QStringLiteral("ไฟล์ที่มีปัญหา: ") + troubled.join(QStringLiteral(", ")));
  switch (result) {
    case RunResult::Failed: view_.appendMessage(kStoppedRetry); break;
    case RunResult::Refused: view_.appendMessage(kStoppedRefused); break;
    case RunResult::Canceled: view_.appendMessage(kStoppedCanceled); break;
    case RunResult::Busy: view_.appendMessage(kStoppedBusy); break;
    default: break;
  }
  view_.processPendingEvents();
  if (result != RunResult::NotWritable && result != RunResult::Busy) {
    QFile::remove(path(kServerVersionCopy));
    QFile::remove(path(kServerFilesCopy));
  }
  lock_.reset();
  running_ = false;
  return result;
}

RunResult ModUpdate::Run() {
  // Pending events run during a run, so the button can be pressed again;
  // a second run on top of the first would share its files.
  if (running_) return RunResult::Ignored;
  running_ = true;
  cancelRequested_ = false;
  const auto stopped = [&](Verdict verdict, const QStringList &troubled = {}) {
    return finishRun(verdict == Verdict::Refused    ? RunResult::Refused
                     : verdict == Verdict::Canceled ? RunResult::Canceled
                                                    : RunResult::Failed,
                     troubled);
  };

  // Nothing is fetched for a folder that cannot take the result.
  if (!folderWritable()) return finishRun(RunResult::NotWritable);
  if (bool busy = false; !lockFolder(busy)) return finishRun(busy ? RunResult::Busy : RunResult::Failed);
  if (!recoverInterruptedInstall()) return finishRun(RunResult::Failed);
  if (!options_.publicKey.isEmpty() && !key_) {
    view_.appendMessage(QStringLiteral("กุญแจตรวจลายเซ็นของโปรแกรมนี้ใช้ไม่ได้ (%1)").arg(keyError_));
    return finishRun(RunResult::Refused);
  }

  view_.appendMessage(QStringLiteral("กำลังตรวจสอบเวอร์ชั่น"));
  QByteArray bytes;
  std::optional<SignedSet> versionSet;
  if (const Verdict v = fetchList(kVersionFile, bytes, versionSet); v != Verdict::Ok) return stopped(v);
  const std::optional<QString> latest = firstField(decodeText(bytes));
  if (!latest || latest->isEmpty()) {
    view_.appendMessage(QStringLiteral("ไม่พบเวอร์ชั่นล่าสุดบนเซิร์ฟเวอร์"));
    return finishRun(RunResult::NoVersionFound);
  }
  latestVersion_ = *latest;
  view_.setLatestVersionCaption(latestVersion_);
  view_.appendMessage(QStringLiteral("เวอร์ชั่นล่าสุด ") + latestVersion_);
  // Checked before "already current": a stale set must not pass for the
  // newest one.
  if (versionSet && !setAcceptable(*versionSet, latestVersion_)) return finishRun(RunResult::Refused);

  if (latestVersion_ == currentVersion_) {
    view_.appendMessage(QStringLiteral("โปรแกรมคุณเป็นรุ่นล่าสุดแล้วค่ะ"));
    return finishRun(RunResult::AlreadyCurrent);
  }
  if (!currentVersion_.isEmpty() && ordinalCompare(latestVersion_, currentVersion_) < 0) {
    // A set kept from earlier, served again, would put back old files.
    view_.appendMessage(QStringLiteral("เวอร์ชั่นบนเซิร์ฟเวอร์ %1 เก่ากว่าเวอร์ชั่นที่ติดตั้งอยู่ %2 จึงไม่ได้ติดตั้ง")
                            .arg(latestVersion_, currentVersion_));
    return finishRun(RunResult::Refused);
  }

  view_.appendMessage(QStringLiteral("ดาวน์โหลดไฟล์อัพเดท"));
  std::optional<SignedSet> filesSet;
  if (const Verdict v = fetchList(kFilesFile, bytes, filesSet); v != Verdict::Ok) return stopped(v);
  if (versionSet && filesSet && !filesSet->sameSetAs(*versionSet)) {
    view_.appendMessage(QStringLiteral("files.dat (เวอร์ชั่น %1 ลงลายเซ็นเมื่อ %2) กับ version.dat (เวอร์ชั่น %3 "
                                       "ลงลายเซ็นเมื่อ %4) ไม่ได้มาจากชุดอัพเดทเดียวกัน")
                            .arg(filesSet->version, setTimeText(filesSet->signedAt), versionSet->version,
                                 setTimeText(versionSet->signedAt)));
    return finishRun(RunResult::Refused);
  }
  view_.appendMessage(QStringLiteral("ตรวจสอบสอบไฟล์เพื่อดาวน์โหลด"));
  LoadFileList();
  view_.processPendingEvents();

  // Every line is decided before anything is fetched, so a list with a name
  // that cannot be installed costs no download and changes nothing.
  std::array<FileEntry, kFileTableSlots> table = fileTable_;
  QList<Download> downloads;
  QStringList refused;
  for (const QString &line : textLines(bytes)) {
    fields_ = SplitFields(line, u',');
    if (fields_[0].trimmed().isEmpty()) continue;
    UpdateFile(fields_[0], fields_[1], listedSha256(fields_), table, downloads, refused);
  }
  if (!refused.isEmpty()) return finishRun(RunResult::Refused, refused);

  StagedInstall staging(workDir_);
  staging.beforeReplace = beforeReplace_;
  QString error;
  const auto installFailed = [&] {
    view_.appendMessage(QStringLiteral("ติดตั้งไฟล์ไม่สำเร็จ (%1) ไฟล์ทั้งหมดยังเป็นรุ่นเดิม").arg(error));
    staging.discard();
    return finishRun(RunResult::Failed);
  };
  if (!staging.prepare(&error)) return installFailed();
  QStringList names;
  for (const Download &download : downloads) {
    const QString name = QDir::cleanPath(download.name);
    view_.appendMessage(download.announcement);
    if (const Verdict v = FetchFile(download, staging.stagedPath(name)); v != Verdict::Ok) {
      staging.discard();
      return stopped(v, {download.name});
    }
    if (!names.contains(name)) names << name;
  }
  if (!replaceFileAtomically(staging.stagedPath(kFilesFile), fileListText(table), &error) ||
      !replaceFileAtomically(staging.stagedPath(kVersionFile), (latestVersion_ + QStringLiteral("\r\n")).toUtf8(),
                             &error))
    return installFailed();
  names << kFilesFile;
  if (versionSet) {
    // Installed with the set, so the record never runs ahead of the files.
    if (!replaceFileAtomically(staging.stagedPath(kSignedFile),
                               (setTimeText(versionSet->signedAt) + QStringLiteral("\r\n")).toUtf8(), &error))
      return installFailed();
    names << kSignedFile;
  }
  names << kVersionFile;
  if (!staging.install(names, &error)) {
    // Interrupted on purpose by a test: the journal finishes it next time.
    if (staging.hasJournal()) return finishRun(RunResult::Failed);
    return installFailed();
  }
  fileTable_ = table;

  view_.appendMessage(QStringLiteral("โปรแกรมของคุณอัพเดทเป็นเวอร์ชั่น ") + latestVersion_);
  view_.setCurrentVersionCaption(QStringLiteral("Version ") + latestVersion_);
  view_.appendMessage(QStringLiteral("อัพเดทไฟล์เรียบร้อยแล้วค่ะ"));
  return finishRun(RunResult::Updated);
}

}  // namespace kirasol::update
