#pragma once
// The composition root of the player: owns the playback module and the
// windows, creates each window on its first use (one per kind) and passes
// every dependency in. main.cpp only builds one of these and runs it.

#include "common/dialogs.h"
#include "common/program_launcher.h"
#include "player/playback/audio_library.h"
#include "player/playback/net_radio.h"
#include "player/shell/frm_main.h"
#include "player/shell/frm_splash.h"
#include "player/shell/instance_guard.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

namespace kirasol {

class PlayerShell : public QObject {
  Q_OBJECT
 public:
  struct Options {
    QString stationUrl;                   // StationUrls entry 0
    std::function<void(int)> endProgram;  // immediate end of the process
    std::function<bool()> debuggerAttached;
  };
  PlayerShell(AudioLibrary &audio, Dialogs &dialogs, ProgramLauncher &launcher, InstanceGuard &guard,
              Options options);
  ~PlayerShell() override;

  // Loads and shows the splash window. False when the program was ended (a
  // second copy).
  bool start();

  // Windows, created on first use.
  FrmSplash &splash();
  FrmMain &mainWindow();
  bool hasSplash() const { return !splash_.isNull(); }
  bool hasMainWindow() const { return !main_.isNull(); }

  // Shows frmMain, loading it first when it is not loaded.
  void showMainWindow();
  // Ends the player: unloads what is loaded, then this process ends.
  void exitPlayer();

  NetRadio &netRadio() { return *radio_; }
  FrmMain::Hooks &mainHooks() { return mainHooks_; }

 private:
  AudioLibrary &audio_;
  Dialogs &dialogs_;
  ProgramLauncher &launcher_;
  InstanceGuard &guard_;
  Options options_;
  FrmMain::Hooks mainHooks_;
  std::unique_ptr<NetRadio> radio_;
  QPointer<FrmSplash> splash_;
  QPointer<FrmMain> main_;
  bool mainLoaded_ = false;
};

// StationUrls entry 0 of this build: "http://" + server + ":8620".
QString defaultStationUrl();

}  // namespace kirasol
