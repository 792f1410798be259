#include "player/live_update/kill_process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <csignal>

namespace kirasol::live_update {

namespace {

QString fileNameOf(pid_t pid) {
  const QString proc = QStringLiteral("/proc/%1").arg(pid);
  QString target = QFile::symLinkTarget(proc + QStringLiteral("/exe"));
  if (!target.isEmpty()) {
    // A program replaced on disk while running reads as "name (deleted)".
    const QString deleted = QStringLiteral(" (deleted)");
    if (target.endsWith(deleted) && !QFileInfo::exists(target)) target.chop(deleted.size());
    return QFileInfo(target).fileName();
  }
  QFile comm(proc + QStringLiteral("/comm"));
  if (!comm.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(comm.readAll()).trimmed();
}

}  // namespace

std::vector<RunningProcess> runningProcesses() {
  std::vector<RunningProcess> processes;
  const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  for (const QString &entry : entries) {
    bool numeric = false;
    const pid_t pid = pid_t(entry.toInt(&numeric));
    if (!numeric || pid <= 0) continue;
    QString name = fileNameOf(pid);
    if (!name.isEmpty()) processes.push_back({pid, std::move(name)});
  }
  std::sort(processes.begin(), processes.end(),
            [](const RunningProcess &a, const RunningProcess &b) { return a.pid < b.pid; });
  return processes;
}

std::optional<pid_t> findProcessByName(const QString &name) {
  // Every file name contains the empty name; matching would end whichever
  // process comes first, which no caller can mean.
  if (name.isEmpty()) return std::nullopt;
  const QString wanted = name.toLower();
  for (const RunningProcess &p : runningProcesses()) {
    if (p.fileName.toLower().contains(wanted)) return p.pid;
  }
  return std::nullopt;
}

void KillProcessByName(const QString &name) {
  if (const std::optional<pid_t> pid = findProcessByName(name)) ::kill(*pid, SIGTERM);
}

}  // namespace kirasol::live_update
