#include "player/shell/layering.h"

#include "player/shell/window_system.h"

#include <QGuiApplication>
#include <QPalette>
#include <QWidget>
#include <cstring>
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

QImage edgesSpread(const QImage &picture) {
  QImage image = picture.convertToFormat(QImage::Format_RGB32);
  const auto isKey = [](QRgb c) { return (c & 0xFFFFFFu) == (kColourKey & 0xFFFFFFu); };
  for (int y = 0; y < image.height(); ++y) {
    auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
    const int w = image.width();
    int first = 0;
    while (first < w && isKey(row[first])) ++first;
    if (first == w) continue;  // a row of holes only
    for (int x = first - 1; x >= 0; --x) row[x] = row[x + 1];
    for (int x = first + 1; x < w; ++x)
      if (isKey(row[x])) row[x] = row[x - 1];
  }
  // Rows of holes only (above and below the body) take the nearest row.
  const auto rowIsKey = [&](int y) { return isKey(image.pixel(0, y)); };  // the row pass left nothing else
  int first = 0;
  while (first < image.height() && rowIsKey(first)) ++first;
  if (first == image.height()) return picture;
  const auto copyRow = [&](int to, int from) {
    std::memcpy(image.scanLine(to), image.constScanLine(from), static_cast<size_t>(image.bytesPerLine()));
  };
  for (int y = first - 1; y >= 0; --y) copyRow(y, y + 1);
  for (int y = first + 1; y < image.height(); ++y)
    if (rowIsKey(y)) copyRow(y, y - 1);
  return image;
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
