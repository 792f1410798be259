#include "player/shell/layering.h"

#include "player/shell/window_system.h"

#include <QGuiApplication>
#include <QPalette>
#include <QWidget>
#include <xcb/xcb.h>

namespace kirasol {

namespace {

// Opacity is a property kept by the X server. Qt queues the request in its
// connection and sends it with the next batch, which an idle window (a splash
// nobody touches) never triggers: every fade step would stay unseen until
// the window goes. Sending the queue costs no round trip.
void sendPendingWindowRequests() {
  if (qGuiApp == nullptr) return;
  // Other platforms (the offscreen one included) may answer with no connection.
  auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (xcb_connection_t *connection = x11 != nullptr ? x11->connection() : nullptr) xcb_flush(connection);
}

}  // namespace

int SetWindowAlpha(QWidget *window, int level) {
  if (level < 0 || level > 255) return kAlphaOutOfRange;
  // Without opacity in the window system (Wayland) the window stays opaque.
  if (window == nullptr || !windowSystemAbilities().opacity) return kAlphaImpossible;
  window->setWindowOpacity(level / 255.0);
  sendPendingWindowRequests();
  return kAlphaApplied;
}

int SetOnTop(QWidget *window, bool on) {
  // Where the compositor keeps stacking to itself, changing the flag would
  // only hide and show the window again.
  if (window == nullptr || !windowSystemAbilities().stayOnTop) return 0;
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
  if (windowSystemAbilities().shapeNeedsAlpha) {
    // A Wayland surface takes the mask as its input region only: what lies
    // outside it must be transparent in the window's own picture, so the
    // window gets a buffer with alpha (asked for before it is created) and
    // no cyan fill; its skin is painted with the key see-through.
    window->setAttribute(Qt::WA_TranslucentBackground);
  } else {
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(kColourKey));
    window->setPalette(palette);
    window->setAutoFillBackground(true);
  }
  // In logical pixels: the window system scales it with the window.
  window->setMask(colourKeyRegion(skin));
}

QImage keyedOut(const QImage &picture) {
  QImage image = picture.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); ++y) {
    auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x)
      if ((row[x] & 0xFFFFFFu) == (kColourKey & 0xFFFFFFu)) row[x] = 0;
  }
  return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

}  // namespace kirasol
