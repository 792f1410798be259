#pragma once
// The notification-area icon of the main window.
//
// How the main window uses it:
//   - Load, last step: trayIcon.Register(windowIcon()) -- only when
//     TrayIcon::available(); otherwise offer popupWindow()->popup(pos) as the
//     main window's context menu so the menu stays reachable.
//   - Unload, last step: trayIcon.Remove().
//   - Minimise may hide the main window only while isRegistered() is true.
// A left click or double click restores and raises the main window; a right
// click pops up frmPopup's mPopupSys at the pointer, creating frmPopup on
// first use through the factory.

#include "player/tray/popup_window.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <functional>

namespace kirasol::tray {

inline constexpr char kTrayTip[] = "Kirasol Radio [ฟังเพลงออนไลน์ 24 ช.ม.]";

class TrayIcon final : public QObject {
  Q_OBJECT
 public:
  using PopupFactory = std::function<PopupWindow *()>;
  TrayIcon(QWidget &mainWindow, PopupFactory createPopup, QObject *parent = nullptr);
  ~TrayIcon() override;

  static bool available() { return QSystemTrayIcon::isSystemTrayAvailable(); }

  void Register(const QIcon &icon);
  void Remove();
  bool isRegistered() const { return registered_; }

  // frmPopup, created on first use; null only if the factory gives none.
  PopupWindow *popupWindow();

  // The main window's decoding of a tray mouse message (514, 515, 517).
  void handleMouseMessage(int message, const QPoint &pointer);

  QSystemTrayIcon &systemTrayIcon() { return icon_; }

 private:
  void restoreMainWindow();

  QWidget &mainWindow_;
  PopupFactory createPopup_;
  QPointer<PopupWindow> popup_;
  QSystemTrayIcon icon_;
  bool registered_ = false;
};

}  // namespace kirasol::tray
