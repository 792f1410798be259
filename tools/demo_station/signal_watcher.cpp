#include "signal_watcher.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace kirasol::station {

namespace {
sigset_t terminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}
}  // namespace

void SignalWatcher::blockTermination() {
  const sigset_t set = terminationSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatcher::SignalWatcher(QObject *parent) : QObject(parent) {
  const sigset_t set = terminationSignals();
  fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd_ < 0) return;
  notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    signalfd_siginfo info{};
    while (read(fd_, &info, sizeof info) == ssize_t(sizeof info)) emit terminationRequested(int(info.ssi_signo));
  });
}

SignalWatcher::~SignalWatcher() {
  delete notifier_;
  if (fd_ >= 0) close(fd_);
}

}  // namespace kirasol::station
