#include "common/system_program_launcher.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace kirasol {

SystemProgramLauncher::SystemProgramLauncher(QString programDir) : programDir_(std::move(programDir)) {}

QString SystemProgramLauncher::resolve(const QString &bareName) const {
  if (bareName.isEmpty()) return {};
  if (bareName.contains(u'/')) {
    const QFileInfo info(bareName);
    return info.isFile() && info.isExecutable() ? info.absoluteFilePath() : QString();
  }
  const QString dir = programDir_.isEmpty() ? QCoreApplication::applicationDirPath() : programDir_;
  const QFileInfo local(QDir(dir), bareName);
  if (local.isFile() && local.isExecutable()) return local.absoluteFilePath();
  return QStandardPaths::findExecutable(bareName);
}

bool SystemProgramLauncher::startProgram(const QString &bareName, const QStringList &args) {
  const QString path = resolve(bareName);
  if (path.isEmpty()) return false;
  return QProcess::startDetached(path, args, QDir::currentPath());
}

bool SystemProgramLauncher::openUrl(const QString &url) {
  const QUrl address = QUrl::fromUserInput(url);
  if (!address.isValid()) return false;
  return QDesktopServices::openUrl(address);
}

}  // namespace kirasol
