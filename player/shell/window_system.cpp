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

WindowSystemAbilities windowSystemAbilities() {
  if (qGuiApp == nullptr) return {};
  return windowSystemAbilities(QGuiApplication::platformName());
}

}  // namespace kirasol
