#pragma once
// The composition root of the player: owns the playback module and the
// windows, creates each window on its first use (one per kind) and passes
// every dependency in. main.cpp only builds one of these and runs it.
//
// It is also what the tray menu drives (PlayerCommands): the commands press
// the main window's buttons or open the side windows.

#include "common/dialogs.h"
#include "common/program_launcher.h"
#include "common/transfer.h"
#include "player/playback/audio_library.h"
#include "player/playback/net_radio.h"
#include "player/shell/frm_main.h"
#include "player/shell/frm_splash.h"
#include "player/shell/instance_guard.h"
#include "player/shell/station_hand_off.h"
#include "player/settings/player_settings.h"
#include "player/recorder/frm_reccord.h"
#include "player/side_windows/credits_window.h"
#include "player/side_windows/on_demand_window.h"
#include "player/side_windows/request_panel_process.h"
#include "player/tray/player_commands.h"
#include "player/tray/tray_icon.h"

#include <QObject>
#include <QTimer>
#include <QPointer>
#include <functional>
#include <memory>

namespace kirasol {

class PlayerShell : public QObject, public tray::PlayerCommands {
  Q_OBJECT
 public:
  struct Options {
    QString stationUrl;                   // StationUrls entry 0; empty: this build's station
    QString updateBaseUrl;                // empty: this build's update folder
    std::function<void(int)> endProgram;  // immediate end of the process
    std::function<bool()> debuggerAttached;
    std::function<void(int)> endPlayer;   // orderly end of this player; empty: endThisPlayer
    quint16 relayPort = recorder::RELAY_PORT;  // the recorder's relay for a local player
    QString settingsFile;                 // what is remembered between runs; empty: nothing
    bool mediaKeys = false;               // offer the player on the session bus (MPRIS2)
  };
  PlayerShell(AudioLibrary &audio, Dialogs &dialogs, ProgramLauncher &launcher, InstanceGuard &guard,
              Options options);
  ~PlayerShell() override;

  // Loads and shows the splash window. False when the program was ended (a
  // second copy). A second copy started with a station hands it to the
  // running one and ends without a box.
  bool start();

  // A station handed over by a later start: it plays at once (once the main
  // window is up) and the player comes to the front.
  void playHandedStation(const QString &url);

  // Windows, created on first use.
  FrmSplash &splash();
  FrmMain &mainWindow();
  bool hasSplash() const { return !splash_.isNull(); }
  bool hasMainWindow() const { return !main_.isNull(); }

  // Shows frmMain, loading it first when it is not loaded.
  void showMainWindow();

  NetRadio &netRadio() { return *radio_; }
  tray::TrayIcon *trayIcon() const { return tray_.get(); }

  // PlayerCommands (the tray menu).
  void pressPlay() override;
  void pressStop() override;
  void showAbout() override;
  void showRequest() override;
  void showRecorder() override;
  void setOnTop(bool on) override;
  bool isOnTop() const override { return onTop_; }
  bool canStayOnTop() const override;
  void exitPlayer() override;
  void endPlayer() override;

 private:
  void runUpdateCheck(FrmSplash &splash);
  FrmMain::Hooks mainHooks();
  void restoreMainWindow(FrmMain &window);
  void startMediaKeys(FrmMain &window);
  // Moves sldVol as a listener's drag would: the volume and its label follow.
  void moveVolumeSlider(int percent);
  void pressPlayWhenFree();

  AudioLibrary &audio_;
  Dialogs &dialogs_;
  ProgramLauncher &launcher_;
  InstanceGuard &guard_;
  Options options_;
  std::unique_ptr<NetRadio> radio_;
  Transfer transfer_;
  std::unique_ptr<tray::TrayIcon> tray_;
  side::RequestPanelProcess request_;
  side::OnDemandWindow<side::CreditsWindow> credits_;
  QPointer<recorder::frmReccord> recorder_;
  QPointer<FrmSplash> splash_;
  QPointer<FrmMain> main_;
  bool mainLoaded_ = false;
  bool onTop_ = false;
  PlayerSettings settings_;
  bool stationGiven_ = false;    // started with a station of its own
  StationHandOff handOff_;
  bool playOnLoad_ = false;      // a handed station waits for the main window
  QTimer playRetry_;             // Play once the worker of the last station is gone
  int playTries_ = 0;
};

// StationUrls entry 0 of this build: "http://" + server + ":8620".
QString defaultStationUrl();

}  // namespace kirasol
