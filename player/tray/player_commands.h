#pragma once
// What the tray menu asks of the main window. The main window implements
// this interface and hands it to PopupWindow; each call is the main window's
// own command, run on the UI thread.

namespace kirasol::tray {

class PlayerCommands {
 public:
  virtual ~PlayerCommands() = default;
  virtual void pressPlay() = 0;        // btnPresents' click handler (the Play command)
  virtual void pressStop() = 0;        // lblStop's click handler (the Stop command)
  virtual void showAbout() = 0;        // frmAbout, not modal
  virtual void showRequest() = 0;      // frmRequest, not modal
  virtual void showRecorder() = 0;     // frmReccord, not modal
  virtual void setOnTop(bool on) = 0;  // SetOnTop(frmMain, on)
  virtual bool isOnTop() const { return false; }  // as remembered from the last run, then as last set
  virtual bool canStayOnTop() const { return true; }  // false where the window system refuses it (Wayland)
  virtual void exitPlayer() = 0;       // unload frmMain, then end this player
  virtual void endPlayer() = 0;        // end this player without unloading frmMain (updater hand-over)
};

}  // namespace kirasol::tray
