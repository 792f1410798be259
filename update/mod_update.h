#pragma once
// modUpdate: the update program's file formats and run logic, without a
// window. The window (frmUpdate) shows what the run reports through
// UpdateView and passes its button presses in.
//
// Every file is named relative to the working folder given at construction
// (the program's inherited working directory): "version.dat" (installed
// version), "files.dat" (installed files), and the run's temporary copies of
// the server's files, "vers.dat" and "update.dat", which are removed at the
// end of every run, successful or not.
//
// A run never leaves a half-written or wrong file behind: every file is
// replaced atomically and only with a complete 200 answer; when a fetch
// fails the run stops, "version.dat" keeps the old version so the next run
// tries again, and the list says what failed.

#include "common/transfer.h"

#include <QString>
#include <array>

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
  Failed,          // a fetch or a write failed; "version.dat" kept the old version
  Ignored,         // a run was already in progress
};

class ModUpdate {
 public:
  ModUpdate(UrlFetcher &fetcher, QString updateBaseUrl, QString workDir, UpdateView &view);

  // Start-up: reads CurrentVersion from "version.dat" and shows it.
  void ReadCurrentVersion();
  // One update run (the press of `lblConnect`).
  RunResult Run();
  bool running() const { return running_; }

  // Fetches UpdateBaseUrl + remote and replaces the local file with it. With
  // `sha256` (64 lower-case hex digits) the bytes must match it. False, with
  // a message in the list, when nothing was written.
  bool FetchFile(const QString &remote, const QString &local, const QString &sha256 = {});
  void LoadFileList();
  // Fetches the listed file when needed and records it. False when the run
  // must stop (the file could not be fetched, written or verified).
  bool UpdateFile(const QString &name, const QString &version, const QString &sha256 = {});
  bool SaveFileList();

  const QString &CurrentVersion() const { return currentVersion_; }
  const QString &LatestVersion() const { return latestVersion_; }
  const std::array<FileEntry, kFileTableSlots> &FileTable() const { return fileTable_; }
  const FieldList &Fields() const { return fields_; }

 private:
  QString path(const QString &name) const;
  RunResult finishRun(RunResult result);

  UrlFetcher &fetcher_;
  QString updateBaseUrl_;
  QString workDir_;
  UpdateView &view_;
  QString currentVersion_;
  QString latestVersion_;
  std::array<FileEntry, kFileTableSlots> fileTable_;
  FieldList fields_;
  bool running_ = false;
};

}  // namespace kirasol::update
