#include "player/tray/tray_icon.h"

#include "player/tray/tray_decoding.h"

#include <QCursor>

namespace kirasol::tray {

TrayIcon::TrayIcon(QWidget &mainWindow, PopupFactory createPopup, QObject *parent)
    : QObject(parent), mainWindow_(mainWindow), createPopup_(std::move(createPopup)) {
  icon_.setObjectName(QStringLiteral("TrayIcon"));
  icon_.setToolTip(QString::fromUtf8(kTrayTip));
  connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    // Through the same decoding as a mouse message arriving in pixels.
    handleMouseMessage(decodeTrayMessage(mouseMessageFor(reason), true), QCursor::pos());
  });
}

TrayIcon::~TrayIcon() {
  Remove();
  delete popup_.data();
}

void TrayIcon::Register(const QIcon &icon) {
  icon_.setIcon(icon);
  icon_.setToolTip(QString::fromUtf8(kTrayTip));
  icon_.show();
  registered_ = true;
}

void TrayIcon::Remove() {
  icon_.hide();
  registered_ = false;
}

PopupWindow *TrayIcon::popupWindow() {
  if (!popup_ && createPopup_) popup_ = createPopup_();
  return popup_.data();
}

void TrayIcon::handleMouseMessage(int message, const QPoint &pointer) {
  switch (trayActionFor(message)) {
    case TrayAction::RestoreMainWindow:
      restoreMainWindow();
      break;
    case TrayAction::PopupMenu:
      if (PopupWindow *p = popupWindow()) p->popup(pointer);  // the main window is left as it is
      break;
    case TrayAction::None:
      break;
  }
}

void TrayIcon::restoreMainWindow() {
  mainWindow_.setWindowState(mainWindow_.windowState() & ~Qt::WindowMinimized);
  mainWindow_.show();
  mainWindow_.raise();
  mainWindow_.activateWindow();
}

}  // namespace kirasol::tray
