#include "common/atomic_file.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

namespace kirasol {

bool replaceFileAtomically(const QString &path, const QByteArray &bytes, QString *error) {
  const QFileInfo existing(path);
  QSaveFile file(path);
  // Writing in place would defeat the purpose; fail instead when the folder
  // does not allow a file beside the target.
  file.setDirectWriteFallback(false);
  const auto fail = [&](const QString &why) {
    if (error) *error = why;
    file.cancelWriting();
    return false;
  };
  if (!file.open(QIODevice::WriteOnly)) return fail(file.errorString());
  if (existing.exists() && !file.setPermissions(existing.permissions())) return fail(file.errorString());
  if (file.write(bytes) != bytes.size()) return fail(file.errorString());
  if (!file.commit()) {
    if (error) *error = file.errorString();
    return false;
  }
  return true;
}

bool folderIsWritable(const QString &folder, QString *error) {
  QTemporaryFile probe(folder + QStringLiteral("/.write-test-XXXXXX"));
  if (probe.open()) return true;
  if (error) *error = probe.errorString();
  return false;
}

}  // namespace kirasol
