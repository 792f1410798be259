#pragma once
// The previous-instance test: one lock file per executable path in the user's
// runtime folder. The lock is held for the life of the guard; a copy that
// crashed leaves a stale lock that the next start takes over.

#include <QLockFile>
#include <QString>
#include <memory>

namespace kirasol {

class InstanceGuard {
 public:
  // Guard for `executablePath`, with its lock file in `folder` (the runtime
  // folder when empty).
  explicit InstanceGuard(const QString &executablePath, const QString &folder = {});
  // True when no other running copy holds the lock (this guard holds it now).
  bool acquire();
  QString lockFilePath() const { return path_; }
  // The local socket the holder listens on for stations that later starts
  // hand over (beside the lock, with the same key).
  QString handOffName() const;

 private:
  QString path_;
  std::unique_ptr<QLockFile> lock_;
};

}  // namespace kirasol
