#include "update/staged_install.h"

#include "common/atomic_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kirasol::update {

namespace {

const QString kStaging = QStringLiteral(".kirasol-update");
const QByteArray kJournalHeader = "kirasol-update install 1";

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

// Makes what was written to `path` (a file or a folder) survive a power cut.
void syncPath(const QString &path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool renameOver(const QString &from, const QString &to, QString *error) {
  if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0) return true;
  if (error) *error = QStringLiteral("%1: %2").arg(to, systemError());
  return false;
}

bool exists(const QString &path) { return QFileInfo(path).exists() || QFileInfo(path).isSymLink(); }

// A second name for the installed file, so putting it back is one rename.
// Where hard links are not possible, a copy made complete before it gets
// its name.
bool keepBackup(const QString &from, const QString &backup, QString *error) {
  if (!QDir().mkpath(QFileInfo(backup).absolutePath())) {
    if (error) *error = QStringLiteral("%1 cannot be made").arg(QFileInfo(backup).absolutePath());
    return false;
  }
  if (::link(QFile::encodeName(from).constData(), QFile::encodeName(backup).constData()) == 0) return true;
  const QString part = backup + QStringLiteral(".part");
  QFile::remove(part);
  if (!QFile::copy(from, part)) {
    if (error) *error = QStringLiteral("%1 cannot be kept for undoing the update").arg(from);
    return false;
  }
  syncPath(part);
  return renameOver(part, backup, error);
}

}  // namespace

StagedInstall::StagedInstall(QString programFolder) : folder_(std::move(programFolder)) {}

QString StagedInstall::stagingFolder() const { return QDir(folder_).filePath(kStaging); }
QString StagedInstall::stagedPath(const QString &name) const { return stagingFolder() + QStringLiteral("/new/") + name; }
QString StagedInstall::backupPath(const QString &name) const { return stagingFolder() + QStringLiteral("/old/") + name; }
QString StagedInstall::journalPath() const { return stagingFolder() + QStringLiteral("/journal"); }
QString StagedInstall::target(const QString &name) const { return QDir(folder_).filePath(name); }
bool StagedInstall::hasJournal() const { return QFileInfo::exists(journalPath()); }

bool StagedInstall::prepare(QString *error) {
  if (hasJournal()) {
    if (error) *error = QStringLiteral("an earlier install is not finished");
    return false;
  }
  QDir(stagingFolder()).removeRecursively();
  if (QDir().mkpath(stagingFolder() + QStringLiteral("/new"))) return true;
  if (error) *error = QStringLiteral("%1 cannot be made").arg(stagingFolder());
  return false;
}

void StagedInstall::discard() {
  if (!hasJournal()) QDir(stagingFolder()).removeRecursively();
}

void StagedInstall::finish() {
  QFile::remove(journalPath());
  syncPath(stagingFolder());
  QDir(stagingFolder()).removeRecursively();
}

bool StagedInstall::writeJournal(const QList<Entry> &entries, QString *error) {
  QByteArray text = kJournalHeader + '\n';
  for (const Entry &e : entries) text += (e.existed ? "1\t" : "0\t") + e.name.toUtf8() + '\n';
  if (!replaceFileAtomically(journalPath(), text, error)) return false;
  syncPath(journalPath());
  syncPath(stagingFolder());
  return true;
}

bool StagedInstall::readJournal(QList<Entry> &entries, QString *error) const {
  QFile file(journalPath());
  if (!file.open(QIODevice::ReadOnly)) {
    if (error) *error = file.errorString();
    return false;
  }
  QList<QByteArray> lines = file.readAll().split('\n');
  if (lines.isEmpty() || lines.takeFirst() != kJournalHeader) {
    if (error) *error = QStringLiteral("%1 is not an install journal").arg(journalPath());
    return false;
  }
  for (const QByteArray &line : lines) {
    if (line.isEmpty()) continue;
    if (line.size() < 3 || (line[0] != '0' && line[0] != '1') || line[1] != '\t') {
      if (error) *error = QStringLiteral("%1 is damaged").arg(journalPath());
      return false;
    }
    entries.append({line[0] == '1', QString::fromUtf8(line.mid(2))});
  }
  return true;
}

StagedInstall::Replaced StagedInstall::replaceAll(const QList<Entry> &entries, QString *error) {
  for (int i = 0; i < entries.size(); ++i) {
    const Entry &e = entries[i];
    const QString staged = stagedPath(e.name);
    if (!exists(staged)) continue;  // replaced before an interruption
    if (beforeReplace && !beforeReplace(i)) return Replaced::Interrupted;
    const QString installed = target(e.name);
    if (e.existed) {
      if (!exists(backupPath(e.name)) && !keepBackup(installed, backupPath(e.name), error)) return Replaced::Failed;
      // The new file keeps what the old one allowed (an executable stays one).
      QFile::setPermissions(staged, QFile::permissions(installed));
    }
    if (!QDir().mkpath(QFileInfo(installed).absolutePath())) {
      if (error) *error = QStringLiteral("%1 cannot be made").arg(QFileInfo(installed).absolutePath());
      return Replaced::Failed;
    }
    if (!renameOver(staged, installed, error)) return Replaced::Failed;
  }
  syncPath(folder_);
  return Replaced::All;
}

bool StagedInstall::rollBack(const QList<Entry> &entries, QString *error) {
  bool ok = true;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (exists(stagedPath(it->name))) continue;  // never replaced
    if (it->existed) {
      if (!exists(backupPath(it->name))) {
        if (error) *error = QStringLiteral("the old %1 is missing").arg(it->name);
        ok = false;
      } else if (!renameOver(backupPath(it->name), target(it->name), error)) {
        ok = false;
      }
    } else if (!QFile::remove(target(it->name)) && exists(target(it->name))) {
      if (error) *error = QStringLiteral("%1 cannot be removed").arg(target(it->name));
      ok = false;
    }
  }
  syncPath(folder_);
  return ok;
}

bool StagedInstall::install(const QStringList &names, QString *error) {
  QList<Entry> entries;
  for (const QString &name : names) {
    if (!exists(stagedPath(name))) {
      if (error) *error = QStringLiteral("%1 was not downloaded").arg(name);
      return false;
    }
    syncPath(stagedPath(name));
    entries.append({exists(target(name)), name});
  }
  if (!writeJournal(entries, error)) return false;
  switch (replaceAll(entries, error)) {
    case Replaced::All:
      finish();
      return true;
    case Replaced::Interrupted:
      return false;
    case Replaced::Failed:
      break;
  }
  QString rollBackError;
  if (rollBack(entries, &rollBackError)) {
    finish();
  } else if (error) {
    *error += QStringLiteral("; undoing it failed too (%1)").arg(rollBackError);
  }
  return false;
}

StagedInstall::Recovery StagedInstall::recover(QString *error) {
  if (!hasJournal()) {
    if (QFileInfo::exists(stagingFolder())) QDir(stagingFolder()).removeRecursively();
    return Recovery::NothingToDo;
  }
  QList<Entry> entries;
  if (!readJournal(entries, error)) return Recovery::Failed;
  switch (replaceAll(entries, error)) {
    case Replaced::All:
      finish();
      return Recovery::Finished;
    case Replaced::Interrupted:
      return Recovery::Failed;
    case Replaced::Failed:
      break;
  }
  if (!rollBack(entries, error)) return Recovery::Failed;
  finish();
  return Recovery::RolledBack;
}

}  // namespace kirasol::update
