#pragma once
// The product's window icon, shared by the player and the Update program.

#include <QIcon>

namespace kirasol {

// The icon files in the program folder's icons/ (64 and 256 pixels); an icon
// without pixmaps when they are missing.
QIcon productIcon();

}  // namespace kirasol
