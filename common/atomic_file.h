#pragma once
// Replacing a file so that it is never seen half written.

#include <QByteArray>
#include <QString>

namespace kirasol {

// Writes `bytes` beside `path` and renames the result over it, so `path`
// holds either its old content or exactly the new bytes, never a part. An
// existing file keeps its permissions (an executable stays executable); a new
// file gets the usual permissions for new files (umask applied). Missing
// parent folders are not created. On failure the old file is untouched,
// false is returned and `error` (when given) says why.
bool replaceFileAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr);

// True when new files can be made in `folder` (checked by making one, so a
// read-only mount or a folder owned by another user both count as not
// writable). On false, `error` (when given) says why.
bool folderIsWritable(const QString &folder, QString *error = nullptr);

}  // namespace kirasol
