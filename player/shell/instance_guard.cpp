#include "player/shell/instance_guard.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace kirasol {

InstanceGuard::InstanceGuard(const QString &executablePath, const QString &folder) {
  QString dir = folder;
  if (dir.isEmpty()) dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (dir.isEmpty()) dir = QDir::tempPath();
  const QString canonical = QFileInfo(executablePath).absoluteFilePath();
  const QByteArray key =
      QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
  path_ = QDir(dir).filePath(QStringLiteral("kirasol-radio-") + QString::fromLatin1(key) + QStringLiteral(".lock"));
}

QString InstanceGuard::handOffName() const {
  QString name = path_;
  name.replace(name.size() - 5, 5, QStringLiteral(".sock"));
  return name;
}

bool InstanceGuard::acquire() {
  if (lock_ && lock_->isLocked()) return true;
  lock_ = std::make_unique<QLockFile>(path_);
  // The player may run for days: a lock is never stale by age, only when its
  // process has gone.
  lock_->setStaleLockTime(0);
  // A copy that died keeps no claim: QLockFile treats the lock of a process
  // that no longer runs as stale and removes it.
  return lock_->tryLock(0);
}

}  // namespace kirasol
