#include "player/side_windows/web_engine_setup.h"

#include <QCoreApplication>
#include <QtGlobal>
#include <unistd.h>

namespace kirasol::side {

void prepareWebEngine() {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  }
}

}  // namespace kirasol::side
