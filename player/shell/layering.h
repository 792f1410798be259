#pragma once
// Window layering: whole-window opacity, the colour key that cuts a skinned
// window to shape, and always-on-top.

#include <QColor>
#include <QImage>
#include <QRegion>

class QWidget;

namespace kirasol {

// Results of SetWindowAlpha.
inline constexpr int kAlphaApplied = 0;
inline constexpr int kAlphaOutOfRange = 1;   // level outside 0..255, nothing changed
inline constexpr int kAlphaImpossible = 2;   // no window to apply it to

// Opacity level 0 (invisible, still shown and loaded) to 255 (opaque).
int SetWindowAlpha(QWidget *window, int level);

// Topmost on or off, keeping position, size and visibility. With on true the
// result is 1 when applied (0 without a window); with on false it is 0.
int SetOnTop(QWidget *window, bool on);

// The colour key: pixels of exactly this colour are holes.
inline constexpr QRgb kColourKey = qRgb(0, 255, 255);

// The region of a picture's pixels that are not exactly the colour key.
QRegion colourKeyRegion(const QImage &picture);

// Cuts the window to the non-cyan pixels of its skin (a cyan background keeps
// the holes see-through wherever the mask cannot reach).
// Where the window system needs it (Wayland) the window is made translucent
// instead, and paints its skin through keyedOut().
void applyColourKey(QWidget *window, const QImage &skin);

// The picture with each key-colour pixel given the colour of the visible
// pixel before it in its row (after it at the row's start; rows without one
// take the nearest row): a picture scaled smoothly then blends no cyan into
// the shape's edge.
QImage edgesSpread(const QImage &picture);

// The picture with its key-colour pixels fully transparent (the same size and
// device pixel ratio).
QImage keyedOut(const QImage &picture);

}  // namespace kirasol
