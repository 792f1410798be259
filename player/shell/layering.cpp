#include "player/shell/layering.h"

#include <QPalette>
#include <QWidget>

namespace kirasol {

int SetWindowAlpha(QWidget *window, int level) {
  if (level < 0 || level > 255) return kAlphaOutOfRange;
  if (window == nullptr) return kAlphaImpossible;
  window->setWindowOpacity(level / 255.0);
  return kAlphaApplied;
}

int SetOnTop(QWidget *window, bool on) {
  if (window == nullptr) return 0;
  const bool isOnTop = window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
  if (isOnTop != on) {
    // Changing a window flag hides the window and may lose its place.
    const QRect geometry = window->geometry();
    const bool wasVisible = window->isVisible();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, on);
    window->setGeometry(geometry);
    if (wasVisible) window->show();
  }
  return on ? 1 : 0;
}

QRegion colourKeyRegion(const QImage &picture) {
  const QImage image = picture.convertToFormat(QImage::Format_RGB32);
  QRegion region;
  // Runs of visible pixels per row keep the region small.
  for (int y = 0; y < image.height(); ++y) {
    const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
    int x = 0;
    while (x < image.width()) {
      while (x < image.width() && (row[x] & 0xFFFFFFu) == (kColourKey & 0xFFFFFFu)) ++x;
      const int start = x;
      while (x < image.width() && (row[x] & 0xFFFFFFu) != (kColourKey & 0xFFFFFFu)) ++x;
      if (x > start) region += QRect(start, y, x - start, 1);
    }
  }
  return region;
}

void applyColourKey(QWidget *window, const QImage &skin) {
  QPalette palette = window->palette();
  palette.setColor(QPalette::Window, QColor::fromRgb(kColourKey));
  window->setPalette(palette);
  window->setAutoFillBackground(true);
  window->setMask(colourKeyRegion(skin));
}

}  // namespace kirasol
