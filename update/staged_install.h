#pragma once
// Installing a set of files all at once, or not at all.
//
// An update run downloads every file into a staging folder inside the
// program folder (".kirasol-update/new/<name>", so the final renames never
// cross a file system) and installs only when all of them are there and
// checked. Installing writes a journal first, then replaces the files one by
// one, keeping each replaced file as a hard link in ".kirasol-update/old/".
// If the install is interrupted (the process killed, the power cut), the
// journal is still there at the next start: the install is finished, or,
// when that is impossible, every file is put back; the folder is never left
// half old, half new. A failure before the journal exists only leaves the
// staging folder, which the next start removes.
//
// Journal (".kirasol-update/journal"): a first line "kirasol-update install 1",
// then one line per file in install order: "1" (the file existed) or "0",
// a tab, and the name relative to the program folder; then a line "d", a tab
// and the folder for each folder the install makes, which an undo removes.
//
// What must survive a power cut is synced in order: the staged files and
// their folders, then the journal, then every kept old file's name, and the
// folders of the replaced files after the renames.

#include <QString>
#include <QStringList>
#include <functional>

namespace kirasol::update {

class StagedInstall {
 public:
  explicit StagedInstall(QString programFolder);

  QString stagingFolder() const;
  // Where the new content of `name` is put before the install.
  QString stagedPath(const QString &name) const;
  bool hasJournal() const;

  // Removes what an earlier run left (never a journal: that is recover()'s)
  // and makes an empty staging folder.
  bool prepare(QString *error);
  // Removes the staging folder; when a journal exists it is kept.
  void discard();

  // Installs the staged files, in this order; each name must have been
  // staged. True when all are in place; otherwise every file is as before
  // and `error` says why.
  bool install(const QStringList &names, QString *error);

  enum class Recovery { NothingToDo, Finished, RolledBack, Failed };
  // Finishes (or rolls back) an install that was interrupted.
  Recovery recover(QString *error);

  // For tests: called before each file is replaced with its position in the
  // install order; returning false ends the install on the spot, leaving
  // journal and staging folder as a killed process would.
  std::function<bool(int)> beforeReplace;

 private:
  struct Entry {
    bool existed = false;
    QString name;
  };
  QString target(const QString &name) const;
  QString backupPath(const QString &name) const;
  QString journalPath() const;
  struct Journal {
    QList<Entry> entries;
    QStringList madeFolders;  // relative to the program folder
  };
  bool writeJournal(const Journal &journal, QString *error);
  bool readJournal(Journal &journal, QString *error) const;
  enum class Replaced { All, Interrupted, Failed };
  Replaced replaceAll(const QList<Entry> &entries, QString *error);
  bool rollBack(const Journal &journal, QString *error);
  void finish();

  QString folder_;
};

}  // namespace kirasol::update
