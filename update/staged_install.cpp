#include "update/staged_install.h"

#include "common/atomic_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
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

// Makes the names of entries just made or renamed below `root` survive a
// power cut: the folder of each path and every folder up to `root` (which
// may have been made on the way), and `root`, each once.
void syncFolders(const QStringList &paths, const QString &rootPath) {
  const QString root = QFileInfo(rootPath).absoluteFilePath();
  QStringList folders{root};
  for (const QString &path : paths) {
    for (QString folder = QFileInfo(path).absolutePath(); folder.startsWith(root);
         folder = QFileInfo(folder).absolutePath()) {
      if (!folders.contains(folder)) folders << folder;
      if (folder.size() <= root.size()) break;
    }
  }
  for (const QString &folder : folders) syncPath(folder);
}

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

bool StagedInstall::writeJournal(const Journal &journal, QString *error) {
  QByteArray text = kJournalHeader + '\n';
  for (const Entry &e : journal.entries) text += (e.existed ? "1\t" : "0\t") + e.name.toUtf8() + '\n';
  for (const QString &folder : journal.madeFolders) text += "d\t" + folder.toUtf8() + '\n';
  if (!replaceFileAtomically(journalPath(), text, error)) return false;
  syncPath(journalPath());
  syncPath(stagingFolder());
  return true;
}

bool StagedInstall::readJournal(Journal &journal, QString *error) const {
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
    if (line.size() < 3 || (line[0] != '0' && line[0] != '1' && line[0] != 'd') || line[1] != '\t') {
      if (error) *error = QStringLiteral("%1 is damaged").arg(journalPath());
      return false;
    }
    const QString name = QString::fromUtf8(line.mid(2));
    if (line[0] == 'd') {
      journal.madeFolders << name;
    } else {
      journal.entries.append({line[0] == '1', name});
    }
  }
  return true;
}

StagedInstall::Replaced StagedInstall::replaceAll(const QList<Entry> &entries, QString *error) {
  // Every old file gets its second name first, and those names reach the
  // disk before the first file is replaced: an undo after a power cut finds
  // them all.
  QStringList backups;
  for (const Entry &e : entries) {
    if (!e.existed || !exists(stagedPath(e.name))) continue;
    if (!exists(backupPath(e.name)) && !keepBackup(target(e.name), backupPath(e.name), error)) return Replaced::Failed;
    backups << backupPath(e.name);
  }
  syncFolders(backups, stagingFolder());
  QStringList replaced;
  const auto done = [&] { syncFolders(replaced, folder_); };
  for (int i = 0; i < entries.size(); ++i) {
    const Entry &e = entries[i];
    const QString staged = stagedPath(e.name);
    if (!exists(staged)) continue;  // replaced before an interruption
    if (beforeReplace && !beforeReplace(i)) return done(), Replaced::Interrupted;
    // rename() replaces a symbolic link itself, never the file it points to.
    const QString installed = target(e.name);
    // The new file keeps what the old one allowed (an executable stays one).
    if (e.existed) QFile::setPermissions(staged, QFile::permissions(installed));
    if (!QDir().mkpath(QFileInfo(installed).absolutePath())) {
      if (error) *error = QStringLiteral("%1 cannot be made").arg(QFileInfo(installed).absolutePath());
      return done(), Replaced::Failed;
    }
    if (!renameOver(staged, installed, error)) return done(), Replaced::Failed;
    replaced << installed;
  }
  done();
  return Replaced::All;
}

bool StagedInstall::rollBack(const Journal &journal, QString *error) {
  bool ok = true;
  QStringList touched;
  for (auto it = journal.entries.rbegin(); it != journal.entries.rend(); ++it) {
    if (exists(stagedPath(it->name))) continue;  // never replaced
    touched << target(it->name);
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
  // The folders the install made go too, deepest first; one that holds
  // anything else now (or is not a folder) stays.
  QStringList folders = journal.madeFolders;
  std::sort(folders.begin(), folders.end(), [](const QString &a, const QString &b) { return a.size() > b.size(); });
  for (const QString &folder : folders) {
    if (QDir(folder_).rmdir(folder)) touched << target(folder);
  }
  syncFolders(touched, folder_);
  return ok;
}

bool StagedInstall::install(const QStringList &names, QString *error) {
  Journal journal;
  QStringList staged;
  for (const QString &name : names) {
    if (!exists(stagedPath(name))) {
      if (error) *error = QStringLiteral("%1 was not downloaded").arg(name);
      return false;
    }
    syncPath(stagedPath(name));
    staged << stagedPath(name);
    journal.entries.append({exists(target(name)), name});
    // Recorded before they exist, so an undo, even after a crash, knows them.
    for (QString folder = QFileInfo(name).path(); folder != u"." && !folder.isEmpty();
         folder = QFileInfo(folder).path()) {
      if (!exists(target(folder)) && !journal.madeFolders.contains(folder)) journal.madeFolders << folder;
    }
  }
  // The staged files' contents and names are on the disk before the journal
  // says the install may go on with them.
  syncFolders(staged, stagingFolder());
  if (!writeJournal(journal, error)) return false;
  switch (replaceAll(journal.entries, error)) {
    case Replaced::All:
      finish();
      return true;
    case Replaced::Interrupted:
      return false;
    case Replaced::Failed:
      break;
  }
  QString rollBackError;
  if (rollBack(journal, &rollBackError)) {
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
  Journal journal;
  if (!readJournal(journal, error)) return Recovery::Failed;
  switch (replaceAll(journal.entries, error)) {
    case Replaced::All:
      finish();
      return Recovery::Finished;
    case Replaced::Interrupted:
      return Recovery::Failed;
    case Replaced::Failed:
      break;
  }
  if (!rollBack(journal, error)) return Recovery::Failed;
  finish();
  return Recovery::RolledBack;
}

}  // namespace kirasol::update
