#include "player/live_update/player_exit.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>
#include <cstdlib>

namespace kirasol::live_update {

void endThisPlayer(int exitCode) {
  std::fflush(nullptr);
  QCoreApplication *app = QCoreApplication::instance();
  if (!app) std::exit(exitCode);
  const auto quit = [exitCode] { QCoreApplication::exit(exitCode); };
  if (QThread::currentThread() == app->thread() && QThread::currentThread()->loopLevel() > 0) {
    quit();
  } else {
    QMetaObject::invokeMethod(app, quit, Qt::QueuedConnection);
  }
}

}  // namespace kirasol::live_update
