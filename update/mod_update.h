#pragma once
// modUpdate: the update program's file formats and run logic, without a
// window. The window (frmUpdate) shows what the run reports through
// UpdateView and passes its button presses in.
//
// Every file is named relative to the working folder given at construction
// (the program's inherited working directory): "version.dat" (installed
// version) and "files.dat" (installed files). The server's "version.dat"
// and "files.dat" are read into memory and never written as they are.
//
// A run changes the folder all at once or not at all. It first makes sure
// the folder can be written at all (a system-wide install cannot, and says
// so); then it reads the server's version and file list (with a public key
// configured, both must carry a valid minisign signature, and every file to
// fetch a SHA-256 in the list); decides every file; downloads all needed files
// into a staging folder, each checked (status 200, whole length, SHA-256
// where listed, a size cap); and only then installs them together with the
// new "files.dat" and "version.dat" (see StagedInstall). A refused name, a
// bad signature, a failed or cut download, a wrong hash or the exit button
// ends the run with every installed file and "version.dat" byte for byte as
// before, and the list says which files were the trouble.
//
// Beyond the signatures, a run never goes backwards: a set whose version is
// not newer than the installed one installs nothing, and no recorded file is
// replaced by a lower version. Signed, the two lists must name one set (same
// version, signing time and expiry in their trusted comments); a set past its
// expiry, or signed earlier than the set installed last (whose signing time
// "signed.dat" keeps), is refused. One run at a time works in a folder: a
// lock file beside the staging folder keeps a second updater out.

#include "common/transfer.h"
#include "common/update_signature.h"

#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <chrono>
#include <functional>
#include <optional>

class QLockFile;

namespace kirasol::update {

struct FileEntry {
  QString Name;     // empty: the slot is free
  QString Version;
};

inline constexpr int kFileTableSlots = 51;
inline constexpr int kFieldCount = 10;

// Fields(1) to Fields(10) are elements 0 to 9.
using FieldList = std::array<QString, kFieldCount>;

// Splits a line at `separator`, skipping empty fields; text after the tenth
// field is dropped. "," + "a.dll" + ",," + "1.2" gives {"a.dll", "1.2"}.
FieldList SplitFields(const QString &line, QChar separator);

// The SHA-256 a file-list line may carry in its third field: exactly 64 hex
// digits (lower-cased), else empty.
QString listedSha256(const FieldList &fields);

// True when `name` may be written below `workDir`: relative, without "..",
// and not reaching outside through a symbolic link.
bool isSafeFileName(const QString &workDir, const QString &name);

// Names a file list may not install: the run's own records and its staging
// folder.
bool isReservedFileName(const QString &name);

// A signature of a server file is that file's name plus this.
inline const QString kSignatureSuffix = QStringLiteral(".minisig");

struct UpdateOptions {
  // A minisign public key (its base64 line). Empty: the lists are taken
  // unsigned and a listed SHA-256 is checked where one is given.
  QByteArray publicKey;
  qint64 maxFileBytes = qint64(256) << 20;  // per listed file
  // A download slower than this over `rateWindow` is given up.
  qint64 minBytesPerSecond = 1024;
  std::chrono::milliseconds rateWindow{std::chrono::seconds(30)};
};

class UpdateView {
 public:
  virtual ~UpdateView() = default;
  virtual void appendMessage(const QString &text) = 0;           // `list`
  virtual void setCurrentVersionCaption(const QString &text) = 0;  // `curver`
  virtual void setLatestVersionCaption(const QString &text) = 0;   // `latver`
  // Lets the window repaint between the steps of a run.
  virtual void processPendingEvents() = 0;
};

enum class RunResult {
  AlreadyCurrent,  // the server's version equals CurrentVersion; nothing changed
  Updated,         // every listed file is in place and "version.dat" advanced
  NoVersionFound,  // the server's "version.dat" had no first field
  Failed,          // a fetch or a write failed; nothing changed, a later run may succeed
  Refused,         // the server's lists or files were not acceptable; nothing changed
  NotWritable,     // the folder cannot be written (a system-wide install); nothing fetched
  Canceled,        // Cancel() during the downloads; nothing changed
  Ignored,         // a run was already in progress
  Busy,            // another updater is working on the folder; nothing changed
};

class ModUpdate {
 public:
  ModUpdate(UrlFetcher &fetcher, QString updateBaseUrl, QString workDir, UpdateView &view,
            UpdateOptions options = {});
  ~ModUpdate();

  // Start-up: finishes an install an earlier run could not finish, reads
  // CurrentVersion from "version.dat" and shows it, and says so at once when
  // the folder cannot be written.
  void ReadCurrentVersion();
  // One update run (the press of `lblConnect`).
  RunResult Run();
  bool running() const { return running_; }
  // Ends a run's downloads as soon as possible; the run then changes
  // nothing. Once the install has begun it runs to its end (a moment).
  void Cancel();

  void LoadFileList();

  const QString &CurrentVersion() const { return currentVersion_; }
  const QString &LatestVersion() const { return latestVersion_; }
  const std::array<FileEntry, kFileTableSlots> &FileTable() const { return fileTable_; }
  const FieldList &Fields() const { return fields_; }

  // For tests: see StagedInstall::beforeReplace.
  void setInterruptionForTest(std::function<bool(int)> beforeReplace) { beforeReplace_ = std::move(beforeReplace); }

 private:
  struct Download {
    QString name;
    QString sha256;
    QString announcement;  // shown when its download starts
  };
  enum class Verdict { Ok, Failed, Refused, Canceled };

  QString path(const QString &name) const;
  RunResult finishRun(RunResult result, const QStringList &troubled = {});
  bool folderWritable();
  bool recoverInterruptedInstall();
  // Fetches a server list; signed, `set` is what its signature names.
  Verdict fetchList(const QString &remote, QByteArray &bytes, std::optional<SignedSet> &set);
  // The signed version.dat's set against itself, the clock and what was
  // installed last.
  bool setAcceptable(const SignedSet &set, const QString &version);
  // The folder for this process alone; false when `busy` (another updater
  // holds it) or the lock cannot be made (said in the list).
  bool lockFolder(bool &busy);
  // Decides one listed file against `table`, recording it there: adds it to
  // `downloads` when it must be fetched, or to `refused`.
  void UpdateFile(const QString &name, const QString &version, const QString &sha256,
                  std::array<FileEntry, kFileTableSlots> &table, QList<Download> &downloads, QStringList &refused);
  Verdict FetchFile(const Download &download, const QString &stagedPath);
  QByteArray fileListText(const std::array<FileEntry, kFileTableSlots> &table) const;

  UrlFetcher &fetcher_;
  QString updateBaseUrl_;
  QString workDir_;
  UpdateView &view_;
  UpdateOptions options_;
  std::optional<MinisignKey> key_;  // set when options_.publicKey is a valid key
  QString keyError_;
  QString currentVersion_;
  QString latestVersion_;
  std::array<FileEntry, kFileTableSlots> fileTable_;
  FieldList fields_;
  bool running_ = false;
  bool cancelRequested_ = false;
  std::function<bool(int)> beforeReplace_;
  std::unique_ptr<QLockFile> lock_;
};

}  // namespace kirasol::update
