// The update program's file formats: field splitting, the first field of the
// server's version file, the file-name safety check, and a whole update run
// against a server whose version file and file list are the fuzzer's. A run
// may write only inside its working folder, whatever the list names.

#include "common/text_codec.h"
#include "common/text_rules.h"
#include "fuzz/fuzz_input.h"
#include "update/mod_update.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <fuzzer/FuzzedDataProvider.h>

#include <memory>

using namespace kirasol;
using namespace kirasol::update;

namespace {

class QuietView final : public UpdateView {
 public:
  void appendMessage(const QString &) override {}
  void setCurrentVersionCaption(const QString &) override {}
  void setLatestVersionCaption(const QString &) override {}
  void processPendingEvents() override {}
};

// The server: "version.dat" and "files.dat" from the input, any other file
// a few bytes.
class InputServer final : public UrlFetcher {
 public:
  QByteArray version, files;
  bool busy() const override { return false; }
  FetchResult fetch(const QUrl &url) override {
    FetchResult r;
    r.ok = true;
    r.httpStatus = 200;
    const QString path = url.path();
    r.body = path.endsWith(QStringLiteral("/version.dat")) ? version
             : path.endsWith(QStringLiteral("/files.dat")) ? files
                                                           : QByteArray("payload");
    return r;
  }
};

// Fresh folders each run: <sandbox>/work is the working folder; nothing may
// appear beside it.
struct Sandbox {
  std::unique_ptr<QTemporaryDir> dir;
  QString work;
  Sandbox() {
    // Each run writes a few files; memory-backed storage keeps that cheap.
    const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/kirasol-fuzz-update-XXXXXX"));
    FUZZ_CHECK(dir->isValid(), "temporary folder");
    work = QDir(dir->path()).filePath(QStringLiteral("work"));
  }
  void reset() {
    QDir(dir->path()).removeRecursively();
    FUZZ_CHECK(QDir().mkpath(work), "working folder");
  }
  bool onlyWorkBeside() const {
    const QStringList entries = QDir(dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    return entries == QStringList{QStringLiteral("work")};
  }
};

// Made after the application object, so it is removed (at the fuzzer's exit)
// before that object goes.
Sandbox &sandbox() {
  static Sandbox box;
  return box;
}

void checkSplitFields(const QString &line) {
  const FieldList fields = SplitFields(line, u',');
  // The rule as a reference: the non-empty pieces between commas, at most ten.
  const QStringList parts = line.split(u',', Qt::SkipEmptyParts);
  for (int k = 0; k < kFieldCount; ++k) {
    const QString expected = k < parts.size() ? parts[k] : QString();
    FUZZ_CHECK(fields[k] == expected, "fields are the non-empty comma-separated pieces");
  }
  const QString sha = listedSha256(fields);
  FUZZ_CHECK(sha.isEmpty() || (sha.size() == 64 && sha == sha.toLower() && sha.compare(fields[2], Qt::CaseInsensitive) == 0),
             "a listed SHA-256 is the third field, 64 digits, lower-cased");
}

void checkFirstField(const QString &text) {
  const std::optional<QString> field = firstField(text);
  if (!field) {
    for (const QChar c : text) FUZZ_CHECK(c == u' ' || c == u'\t', "no field only in blank text");
    return;
  }
  FUZZ_CHECK(text.contains(*field), "the first field is a piece of the text");
  qsizetype p = 0;
  while (p < text.size() && (text[p] == u' ' || text[p] == u'\t')) ++p;
  if (text[p] != u'"') {
    FUZZ_CHECK(!field->contains(u',') && !field->contains(u'\n') && !field->contains(u'\r'),
               "an unquoted field stops at a comma or line break");
  } else {
    FUZZ_CHECK(!field->contains(u'"'), "a quoted field stops at the closing quote");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz::ensureApplication();
  sandbox();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  const std::string serverVersion = fdp.ConsumeRandomLengthString(64);
  const std::string serverFiles = fdp.ConsumeRandomLengthString(1024);
  const std::string localVersion = fdp.ConsumeRandomLengthString(64);
  const std::string localFiles = fdp.ConsumeRemainingBytesAsString();
  const auto bytes = [](const std::string &s) { return QByteArray(s.data(), qsizetype(s.size())); };

  for (const std::string *part : {&serverVersion, &serverFiles, &localFiles}) {
    const QString text = decodeText(bytes(*part));
    checkFirstField(text);
    for (const QString &line : text.split(u'\n')) checkSplitFields(line);
  }

  Sandbox &box = sandbox();
  box.reset();
  const QString root = QDir(box.work).canonicalPath();
  for (const QString &line : decodeText(bytes(serverFiles)).split(u'\n')) {
    const QString name = SplitFields(line, u',')[0];
    if (!isSafeFileName(box.work, name)) continue;
    FUZZ_CHECK(!name.contains(QStringLiteral("..")) && !QDir::isAbsolutePath(name), "a safe name is relative without ..");
    FUZZ_CHECK(QDir::cleanPath(root + u'/' + name).startsWith(root + u'/'), "a safe name stays below the folder");
  }

  // A whole run over the same texts.
  QFile version(QDir(box.work).filePath(QStringLiteral("version.dat")));
  FUZZ_CHECK(version.open(QIODevice::WriteOnly) && version.write(bytes(localVersion)) == qsizetype(localVersion.size()),
             "local version.dat");
  version.close();
  QFile files(QDir(box.work).filePath(QStringLiteral("files.dat")));
  FUZZ_CHECK(files.open(QIODevice::WriteOnly) && files.write(bytes(localFiles)) == qsizetype(localFiles.size()),
             "local files.dat");
  files.close();

  InputServer server;
  server.version = bytes(serverVersion);
  server.files = bytes(serverFiles);
  QuietView view;
  ModUpdate mod(server, QStringLiteral("http://127.0.0.1:9/update/"), box.work, view);
  mod.ReadCurrentVersion();
  const RunResult result = mod.Run();
  FUZZ_CHECK(box.onlyWorkBeside(), "the run wrote nothing outside its working folder");
  FUZZ_CHECK(!QFileInfo::exists(QDir(box.work).filePath(QStringLiteral("vers.dat"))) &&
                 !QFileInfo::exists(QDir(box.work).filePath(QStringLiteral("update.dat"))),
             "the run's temporary copies are gone");
  FUZZ_CHECK(!QFileInfo::exists(QDir(box.work).filePath(QStringLiteral(".kirasol-update"))),
             "the run's staging folder is gone");
  if (result == RunResult::Updated) {
    const std::optional<QString> latest = firstField(decodeText(server.version));
    FUZZ_CHECK(latest && mod.CurrentVersion() != *latest && mod.LatestVersion() == *latest, "updated to the server's version");
    QFile v(QDir(box.work).filePath(QStringLiteral("version.dat")));
    FUZZ_CHECK(v.open(QIODevice::ReadOnly) && v.readAll() == (*latest + QStringLiteral("\r\n")).toUtf8(),
               "version.dat holds the new version");
  }
  return 0;
}
