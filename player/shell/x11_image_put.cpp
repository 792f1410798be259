#include "player/shell/x11_image_put.h"

#include <QEvent>
#include <QGuiApplication>
#include <QSysInfo>
#include <QWindow>
#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

namespace kirasol {

namespace {

struct FreeReply {
  void operator()(void *reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

const xcb_visualtype_t *findVisual(const xcb_setup_t *setup, xcb_visualid_t id) {
  for (auto screen = xcb_setup_roots_iterator(setup); screen.rem; xcb_screen_next(&screen)) {
    for (auto depth = xcb_screen_allowed_depths_iterator(screen.data); depth.rem; xcb_depth_next(&depth)) {
      for (auto visual = xcb_depth_visuals_iterator(depth.data); visual.rem; xcb_visualtype_next(&visual)) {
        if (visual.data->visual_id == id) return visual.data;
      }
    }
  }
  return nullptr;
}

// A Format_RGB32 pixel is the 32-bit value 0xffRRGGBB in the machine's own
// byte order; the window's pixels must be laid out the same way.
bool takesRgb32(const xcb_setup_t *setup, std::uint8_t depth, const xcb_visualtype_t *visual) {
  const auto ownOrder = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? XCB_IMAGE_ORDER_LSB_FIRST
                                                                       : XCB_IMAGE_ORDER_MSB_FIRST;
  if (setup->image_byte_order != ownOrder) return false;
  if (visual == nullptr || visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR) return false;
  if (visual->red_mask != 0xff0000 || visual->green_mask != 0xff00 || visual->blue_mask != 0xff) return false;
  if (depth != 24 && depth != 32) return false;
  for (auto format = xcb_setup_pixmap_formats_iterator(setup); format.rem; xcb_format_next(&format)) {
    if (format.data->depth == depth) return format.data->bits_per_pixel == 32 && format.data->scanline_pad == 32;
  }
  return false;
}

}  // namespace

X11ImagePut::X11ImagePut(QWidget &window) : window_(&window) {
  if (qGuiApp == nullptr) return;
  // Other platforms (Wayland, offscreen) answer with no X connection.
  if (auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) connection_ = x11->connection();
}

X11ImagePut::~X11ImagePut() { dropGc(); }

void X11ImagePut::dropGc() {
  if (gc_ != 0 && connection_ != nullptr && qGuiApp != nullptr) xcb_free_gc(connection_, gc_);
  gc_ = 0;
}

bool X11ImagePut::ready() {
  if (connection_ == nullptr || window_ == nullptr || !window_->isVisible()) return false;
  if (window_->devicePixelRatioF() != 1.0) return false;
  const auto native = static_cast<std::uint32_t>(window_->internalWinId());
  if (native == 0) return false;
  if (native == checkedWindow_) return usable_;

  checkedWindow_ = native;
  usable_ = false;
  dropGc();
  if (QWindow *handle = window_->windowHandle(); handle != watchedWindow_) {
    if (watchedWindow_ != nullptr) watchedWindow_->removeEventFilter(this);
    watchedWindow_ = handle;
    if (handle != nullptr) handle->installEventFilter(this);
  }
  // Two round trips, once per native window.
  Reply<xcb_get_geometry_reply_t> geometry(
      xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, native), nullptr));
  Reply<xcb_get_window_attributes_reply_t> attributes(
      xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, native), nullptr));
  if (!geometry || !attributes) return false;
  const xcb_setup_t *setup = xcb_get_setup(connection_);
  if (!takesRgb32(setup, geometry->depth, findVisual(setup, attributes->visual))) return false;
  depth_ = geometry->depth;
  gc_ = xcb_generate_id(connection_);
  const std::uint32_t noExposures = 0;
  xcb_create_gc(connection_, gc_, native, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
  usable_ = true;
  return true;
}

bool X11ImagePut::put(const QImage &image, QPoint at) {
  if (image.format() != QImage::Format_RGB32 || image.isNull()) return false;
  // One request: header plus pixels within the server's limit (in 4-byte units).
  const std::size_t bytes = std::size_t(image.sizeInBytes());
  if (image.bytesPerLine() != 4 * image.width() || connection_ == nullptr ||
      bytes + 24 > std::size_t(xcb_get_maximum_request_length(connection_)) * 4)
    return false;
  if (!ready()) return false;
  send(image, at);
  putArea_ |= QRect(at, image.size());
  return true;
}

void X11ImagePut::send(const QImage &image, QPoint at) {
  xcb_put_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, checkedWindow_, gc_, std::uint16_t(image.width()),
                std::uint16_t(image.height()), std::int16_t(at.x()), std::int16_t(at.y()), 0, depth_,
                std::uint32_t(image.sizeInBytes()), image.constBits());
  // Qt sends its queue only when it has work of its own; the frame is due now.
  xcb_flush(connection_);
}

bool X11ImagePut::eventFilter(QObject *watched, QEvent *event) {
  if (watched == watchedWindow_ && event->type() == QEvent::Expose && !putArea_.isNull() && window_ != nullptr) {
    // Qt answers the expose from its backing store, which holds an older
    // frame there; a repaint after it draws the window's current picture.
    window_->update(putArea_);
    putArea_ = QRect();
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace kirasol
