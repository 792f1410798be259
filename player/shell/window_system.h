#pragma once
// What the desktop's window system lets the player do with its own windows.
// An X11 window manager takes every request; a Wayland compositor keeps the
// placing, stacking and focus of windows to itself and has no whole-window
// opacity. Asking anyway only earns a warning on the terminal (or a window
// that is hidden and shown again for nothing), so the windows ask first.

#include <QStringView>

namespace kirasol {

struct WindowSystemAbilities {
  bool opacity = true;     // whole-window opacity (the splash fade)
  bool placement = true;   // a window moving itself, or being put where it was last
  bool stayOnTop = true;   // always-on-top
  bool activation = true;  // a window raising and focusing itself
  // The shape mask cuts input only; the cut-out must also be transparent in
  // the window's own picture (a translucent window).
  bool shapeNeedsAlpha = false;
};

// By the name of Qt's platform plugin ("xcb", "wayland", "wayland-egl", ...).
WindowSystemAbilities windowSystemAbilities(QStringView platformName);

// Of the running application's platform (every ability without one).
WindowSystemAbilities windowSystemAbilities();

// Before the application is made: in a Wayland session the player is a
// Wayland client, with X11 (XWayland) as the fallback. Qt alone stays on X11
// in some sessions (GNOME's). A platform the listener chose is kept.
void preferWaylandInWaylandSessions();

}  // namespace kirasol
