#pragma once
// killProcess: ending a process by its executable's file name.
//
// Not the way for the player to end itself: another process whose name
// contains the player's (another user's copy, a wrapper) may come first.
// The player's exit paths use endThisPlayer (player_exit.h).

#include <QString>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace kirasol::live_update {

struct RunningProcess {
  pid_t pid;
  QString fileName;  // basename of /proc/PID/exe, or /proc/PID/comm when that cannot be read
};

// Every process in /proc, in ascending pid order.
std::vector<RunningProcess> runningProcesses();

// The first process, in ascending pid order, whose lower-cased file name
// contains the lower-cased `name`. An empty name matches nothing.
std::optional<pid_t> findProcessByName(const QString &name);

// Sends SIGTERM to that process. Nothing is reported: no match, or a process
// we may not signal, simply leaves things as they are.
void KillProcessByName(const QString &name);

}  // namespace kirasol::live_update
