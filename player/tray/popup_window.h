#pragma once
// frmPopup: the hidden owner of the tray menu mPopupSys, its item handlers
// and the small item icons.
//
// How the main window uses it: TrayIcon (tray_icon.h) creates it on the first
// right click through the factory the main window passes, e.g.
//     [&] { return new PopupWindow(commands, launcher, dialogs,
//                                  QCoreApplication::applicationDirPath()); }
// Where the desktop has no system tray, the main window shows the same menu
// as its context menu: trayIcon.popupWindow()->popup(globalPos).
// The window is never shown; the update item deletes it before the player ends.

#include "player/tray/player_commands.h"

#include <QIcon>
#include <QMenu>
#include <QPoint>
#include <QString>
#include <QWidget>

namespace kirasol {
class Dialogs;
class ProgramLauncher;
}  // namespace kirasol

namespace kirasol::tray {

// The icon pictures in the order SetMenuIcons attaches them, with the visible
// position of the item each belongs to.
struct MenuIconSlot {
  const char *image;  // imgAbout, ...; loaded from <name>.png or .gif
  int position;
};
inline constexpr MenuIconSlot kMenuIconOrder[] = {
    {"imgAbout", 1}, {"imgUpdate", 2},  {"imgRequest", 3},  {"imgPlay", 4},  {"imgChat", 6}, {"imgSkin", 5},
    {"imgTV", 7},    {"imgWeb", 8},     {"imgReccord", 9},  {"imgOntop", 10}, {"imgExit", 11},
};

// A picture from the program folder (or its icons/ sub-folder) by image name,
// .png or .gif; a null icon when there is none.
QIcon loadMenuImage(const QString &folder, const QString &imageName);

class PopupWindow final : public QWidget {
  Q_OBJECT
 public:
  // iconFolder: where the item pictures are looked for (the program folder).
  PopupWindow(PlayerCommands &commands, ProgramLauncher &launcher, Dialogs &dialogs, const QString &iconFolder,
              QWidget *parent = nullptr);

  QMenu *mPopupSys() const { return mPopupSys_; }
  // Pops the menu up at a screen position (the pointer's, for the tray).
  void popup(const QPoint &globalPos);
  // Pops it up for the keyboard: the first item that can be chosen is
  // already selected, so the arrow keys and a screen reader start there.
  void popupFromKeyboard(const QPoint &globalPos);

  // Attaches every picture in kMenuIconOrder; a failing one is skipped.
  // Returns how many were attached.
  int SetMenuIcons();
  // Attaches one picture to the item at `itemPosition` of the menu at
  // `submenuPosition` of this window's menu bar (0 is mPopupSys). False when
  // the picture is empty or no such item exists.
  bool SetMenuIcon(const QIcon &image, int submenuPosition, int itemPosition);
  // Opens an address in the browser; a message box when that fails.
  void OpenWebPage(const QString &address);

 private:
  QAction *addItem(QMenu *menu, const char *name, const QString &caption);
  void startProgram(const char *bareName);
  void mUpdate_Click();
  void mOntop(bool on);

  PlayerCommands &commands_;
  ProgramLauncher &launcher_;
  Dialogs &dialogs_;
  QString iconFolder_;
  QMenu *mPopupSys_;
  QAction *mOntop_On_ = nullptr;
  QAction *mOntop_Off_ = nullptr;
};

}  // namespace kirasol::tray
