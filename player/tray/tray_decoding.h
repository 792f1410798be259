#pragma once
// Tray notifications as mouse messages: QSystemTrayIcon's activation reasons
// become the button-up messages the main window's mouse-move handler decodes,
// so the decision lives in one small table-testable place.

#include <QSystemTrayIcon>

namespace kirasol::tray {

inline constexpr int kLeftButtonUp = 514;      // WM_LBUTTONUP
inline constexpr int kLeftDoubleClick = 515;   // WM_LBUTTONDBLCLK
inline constexpr int kRightButtonUp = 517;     // WM_RBUTTONUP

// Trigger -> 514, DoubleClick -> 515, Context -> 517; anything else 0.
int mouseMessageFor(QSystemTrayIcon::ActivationReason reason);

// The message carried in the x coordinate of a mouse-move: x itself when the
// window measures in pixels, else x divided by the twips per pixel; rounded,
// halves to even.
int decodeTrayMessage(double x, bool unitsArePixels, double twipsPerPixel = 15.0);

enum class TrayAction { None, RestoreMainWindow, PopupMenu };

// 514 and 515 restore the main window, 517 pops up the tray menu.
TrayAction trayActionFor(int message);

}  // namespace kirasol::tray
