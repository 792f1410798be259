#pragma once
// Recording files: how they are named, where they go and how bytes reach
// them. No widgets; the recorder window decides when.

#include <QByteArrayView>
#include <QFile>
#include <QHash>
#include <QString>
#include <QTime>
#include <cstdint>

namespace kirasol::recorder {

// The file name for file-per-song recording, read from lblTitle's caption:
// the text between its first and second ":", leading blanks removed, plus
// ".mp3". Before any title ("Title:") this is ".mp3".
QString titleFileName(const QString &titleCaption);

// The name proposed in the name prompt: "File", the seconds since midnight
// (rounded, halves to even), ".mp3".
QString proposedFileName(const QTime &now);

// A name the output folder can hold: "/", "\" and control characters become
// "_", "." and ".." become "_" and "__", and an over-long name is shortened
// (keeping its extension) so that the file system accepts it with a " (n)".
QString safeFileName(const QString &name);

// "name.ext" -> "name (n).ext"; the extension starts at the last ".".
QString numberedFileName(const QString &name, int n);

// The folder text with a separator at its end; a trailing "\" counts as one.
QString outputFolder(const QString &outPathText);

// lblSize and lblTime texts.
QString sizeText(std::int32_t bytesWritten);
QString timeText(qint64 seconds);

// Adds to a byte count without wrapping past the 32-bit range.
std::int32_t addSaturated(std::int32_t count, qsizetype added);

// One recording file, written straight through: every write reaches the
// operating system before it returns, so an abrupt end loses nothing.
class RecordingFile {
 public:
  struct OpenResult {
    bool ok = false;
    QString name;   // the name actually used (with " (n)" when taken)
    QString error;  // user-facing reason when !ok
  };

  // Creates folder + name, never touching an existing file: when the name is
  // taken, " (2)", " (3)", ... go before the extension. The search for a
  // free number goes on from where the last one for the same name ended, so
  // a thousand files of one title cost no more per file than the first.
  OpenResult open(const QString &folder, const QString &name);
  bool isOpen() const { return file_.isOpen(); }
  // False (and errorString() says why) when not all bytes were written.
  bool write(QByteArrayView bytes);
  // Takes the last `bytes` back off the file (an unfinished frame at its
  // end); false when the file is shorter or refuses.
  bool dropTail(qint64 bytes);
  QString errorString() const { return file_.errorString(); }
  QString path() const { return file_.fileName(); }
  void close() { file_.close(); }

 private:
  QFile file_;
  QHash<QString, int> nextNumber_;  // folder + name -> the first number still worth trying
};

// When file-per-song recording starts its next file. A station announces a
// song once, when it starts; that cut happens at once, right after the block.
// The same title announced again goes on in the same file (some stations
// repeat the title in every block). A stream that changes titles faster than
// songs can play gets a few quick cuts, then at most one per kAudioPerCut
// audio bytes, named after the latest title, so a title flood cannot bury the
// folder in tiny files or stall the window opening them.
class SongRotation {
 public:
  static constexpr int kQuickCuts = 4;
  static constexpr qint64 kAudioPerCut = 16 * 1024;  // about a second at 128 kbps

  // A file was opened: named after `title` (the caption it was read from),
  // or a null text for a name typed by the listener.
  void fileOpened(const QString &title);
  // A metadata block set the title caption.
  void titleArrived(const QString &title);
  // Audio written to the current file.
  void audioWritten(qsizetype bytes);
  // A new file is wanted and may be started now.
  bool cutDue() const { return pending_ && credit_ >= kAudioPerCut; }

 private:
  QString fileTitle_;
  bool pending_ = false;
  qint64 credit_ = kQuickCuts * kAudioPerCut;
};

}  // namespace kirasol::recorder
