#pragma once
// Puts a small picture straight into a window on the X server, past Qt's
// backing store. The spectrum changes 40 times a second; through Qt each
// change costs a round trip to the X server (Qt waits until its shared-memory
// copy of the last frame is done before painting the next), a paint of the
// window's widgets under it and a flush. One PutImage request costs a single
// write on the connection and no waiting.
//
// The window must paint the same pixels itself, from the same picture: Qt's
// own repaints of the area stay right. An expose that Qt answers from its
// backing store (which holds an older frame) is followed by a repaint of
// the area through Qt.
//
// Only where the picture lands 1:1: an X11 window (not Wayland, not the
// offscreen platform), unscaled, whose visual takes 32-bit RGB pixels in the
// byte order of a QImage::Format_RGB32. Elsewhere put() says no and the
// caller repaints through Qt.

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QPointer>
#include <QWidget>
#include <cstdint>

struct xcb_connection_t;

namespace kirasol {

class X11ImagePut final : public QObject {
 public:
  explicit X11ImagePut(QWidget &window);
  ~X11ImagePut() override;
  X11ImagePut(const X11ImagePut &) = delete;
  X11ImagePut &operator=(const X11ImagePut &) = delete;

  // Puts `image` (Format_RGB32) with its top left at `at` in the window's
  // own coordinates. False, with nothing sent, where the picture would not
  // land 1:1 (see above) or the window is not shown.
  bool put(const QImage &image, QPoint at);

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  // Checks the window's visual once per native window (a window recreated
  // for on-top gets a new one).
  bool ready();
  void send(const QImage &image, QPoint at);
  void dropGc();

  QPointer<QWidget> window_;
  xcb_connection_t *connection_ = nullptr;
  std::uint32_t checkedWindow_ = 0;  // native window the checks were made for
  bool usable_ = false;
  std::uint32_t gc_ = 0;
  std::uint8_t depth_ = 0;
  QPointer<QObject> watchedWindow_;
  QRect putArea_;  // put since the last expose: Qt's backing store is behind there
};

}  // namespace kirasol
