#include "player/tray/tray_decoding.h"

#include "common/text_rules.h"

#include <cmath>
#include <limits>

namespace kirasol::tray {

int mouseMessageFor(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      return kLeftButtonUp;
    case QSystemTrayIcon::DoubleClick:
      return kLeftDoubleClick;
    case QSystemTrayIcon::Context:
      return kRightButtonUp;
    default:
      return 0;
  }
}

int decodeTrayMessage(double x, bool unitsArePixels, double twipsPerPixel) {
  const double pixels = unitsArePixels ? x : x / twipsPerPixel;
  // Anything that is not a plausible message decodes to "no message" instead
  // of overflowing the conversion.
  const auto m = toInt32(pixels);
  return m ? *m : 0;
}

TrayAction trayActionFor(int message) {
  switch (message) {
    case kLeftButtonUp:
    case kLeftDoubleClick:
      return TrayAction::RestoreMainWindow;
    case kRightButtonUp:
      return TrayAction::PopupMenu;
    default:
      return TrayAction::None;
  }
}

}  // namespace kirasol::tray
