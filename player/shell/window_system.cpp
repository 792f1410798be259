#include "player/shell/window_system.h"

#include <QGuiApplication>

namespace kirasol {

WindowSystemAbilities windowSystemAbilities(QStringView platformName) {
  WindowSystemAbilities abilities;
  if (platformName.startsWith(u"wayland")) {
    abilities.opacity = false;
    abilities.placement = false;
    abilities.stayOnTop = false;
    abilities.activation = false;
    abilities.shapeNeedsAlpha = true;
  }
  return abilities;
}

void preferWaylandInWaylandSessions() {
  if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) return;
  if (qgetenv("XDG_SESSION_TYPE") != "wayland" || !qEnvironmentVariableIsSet("WAYLAND_DISPLAY")) return;
  // Tried in order: without the Wayland plugin or compositor, X11.
  qputenv("QT_QPA_PLATFORM", "wayland;xcb");
}

WindowSystemAbilities windowSystemAbilities() {
  if (qGuiApp == nullptr) return {};
  return windowSystemAbilities(QGuiApplication::platformName());
}

}  // namespace kirasol
