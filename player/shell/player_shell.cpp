#include "player/shell/player_shell.h"

#include "player/live_update/live_update_check.h"
#include "controls/slider/slider.h"
#include "player/live_update/player_exit.h"
#include "player/mpris/mpris_service.h"
#include "player/shell/layering.h"
#include "player/shell/window_system.h"
#include "player/side_windows/request_page.h"
#include "player/tray/popup_window.h"

#include <kirasol/build_settings.h>

#include <QApplication>
#include <QDir>
#include <QPushButton>

namespace kirasol {

QString defaultStationUrl() {
  return QStringLiteral("http://") + QString::fromUtf8(settings::kStationServer) + QLatin1Char(':') +
         QString::number(settings::kStationPort);
}

PlayerShell::PlayerShell(AudioLibrary &audio, Dialogs &dialogs, ProgramLauncher &launcher, InstanceGuard &guard,
                         Options options)
    : audio_(audio),
      dialogs_(dialogs),
      launcher_(launcher),
      guard_(guard),
      options_(std::move(options)),
      radio_(std::make_unique<NetRadio>(audio, dialogs)),
      request_(QDir(QCoreApplication::applicationDirPath()).filePath(QString::fromLatin1(side::kRequestPanelProgram)),
               side::requestPageUrl(),
               [this](const QString &text) {
                 dialogs_.message(nullptr, MessageRequest{text, QStringLiteral("Error"), MessageIcon::Warning,
                                                          MessageButtons::Ok});
               }),
      credits_([this] { return new side::CreditsWindow(dialogs_, QCoreApplication::applicationDirPath()); }),
      settings_(options_.settingsFile),
      stationGiven_(!options_.stationUrl.isEmpty()),
      handOff_(guard.handOffName()) {
  if (options_.stationUrl.isEmpty()) options_.stationUrl = defaultStationUrl();
  connect(&handOff_, &StationHandOff::stationReceived, this, &PlayerShell::playHandedStation);
  playRetry_.setInterval(100);
  connect(&playRetry_, &QTimer::timeout, this, &PlayerShell::pressPlayWhenFree);
  if (options_.updateBaseUrl.isEmpty()) options_.updateBaseUrl = QString::fromUtf8(settings::kUpdateBaseUrl);
  if (!options_.endPlayer) options_.endPlayer = [](int code) { live_update::endThisPlayer(code); };
}

PlayerShell::~PlayerShell() {
  // A main window still loaded (the player was ended from elsewhere) is
  // unloaded properly, so the audio library stops before the process ends.
  if (!main_.isNull() && mainLoaded_) main_->close();
  tray_.reset();
  // The recorder closes its file on the way out.
  delete recorder_.data();
  delete main_.data();
  delete splash_.data();
  // The worker may still be opening the station; it finishes before the
  // module it reports to goes away.
  radio_.reset();
}

FrmSplash &PlayerShell::splash() {
  if (splash_.isNull()) {
    splash_ = new FrmSplash(FrmSplash::Services{dialogs_, guard_, options_.endProgram, [this] { showMainWindow(); }});
    splash_->setAttribute(Qt::WA_DeleteOnClose);
    splash_->setUpdateCheck([this](FrmSplash &s) { runUpdateCheck(s); });
  }
  return *splash_;
}

void PlayerShell::runUpdateCheck(FrmSplash &splash) {
  const QString programFolder = QCoreApplication::applicationDirPath();
  live_update::LiveUpdateCheck check(transfer_, dialogs_, options_.updateBaseUrl,
                                     live_update::pageFolder(programFolder));
  // The Update program replaces the files of the folder it is started in
  // (this one's working folder) and the player's own.
  check.setInstallFolders({programFolder, QDir::currentPath()});
  check.setTrustedKey(QByteArray(settings::kUpdatePublicKey));
  const auto controls = live_update::CheckControls::forWidgets(
      splash.command1(), splash.progressBar1(), splash.label1(), splash.findChild<QTimer *>(QStringLiteral("Timer1")));
  // The splash stays loaded until the check returns (it only hides when the
  // countdown hands over meanwhile), so `splash` is valid throughout.
  switch (check.run(splash.installedVersion(), controls, &splash)) {
    case live_update::CheckOutcome::UpdateAccepted:
      splash.close();
      if (live_update::startUpdateProgram(launcher_, dialogs_, options_.updateBaseUrl)) {
        options_.endPlayer(0);
      } else if (!splash.handedOver()) {
        // Nothing would take over: a box has said why, and the player starts.
        showMainWindow();
      }
      break;
    case live_update::CheckOutcome::UpdateDeclined:
      splash.resumeAfterDeclinedUpdate();
      break;
    case live_update::CheckOutcome::FetchFailed:
    case live_update::CheckOutcome::NoNewerVersion:
    case live_update::CheckOutcome::NoVersionFound:
    case live_update::CheckOutcome::CannotInstall:
    case live_update::CheckOutcome::NotTrusted:
      break;
  }
}

FrmMain::Hooks PlayerShell::mainHooks() {
  FrmMain::Hooks hooks;
  hooks.registerTray = [this](FrmMain &window) {
    tray_ = std::make_unique<tray::TrayIcon>(window, [this] {
      return new tray::PopupWindow(*this, launcher_, dialogs_, QCoreApplication::applicationDirPath());
    });
    if (tray::TrayIcon::available()) tray_->Register(window.windowIcon());
  };
  hooks.removeTray = [this] {
    if (!tray_) return;
    tray_->Remove();
    // The tray menu may be what is unloading the window: let it return first.
    tray_.release()->deleteLater();
  };
  hooks.trayCanRestore = [this] { return tray_ && tray_->isRegistered(); };
  hooks.contextMenu = [this](const QPoint &globalPos) {
    // Without a system tray the tray menu is the window's own context menu.
    if (tray_ && !tray_->isRegistered()) {
      if (tray::PopupWindow *popup = tray_->popupWindow()) popup->popup(globalPos);
    }
  };
  // Keyboard users cannot reach the tray icon: for them the window opens the
  // tray menu whether or not there is a tray.
  hooks.keyboardMenu = [this](const QPoint &globalPos) {
    if (tray_) {
      if (tray::PopupWindow *popup = tray_->popupWindow()) popup->popupFromKeyboard(globalPos);
    }
  };
  hooks.showRequest = [this] { showRequest(); };
  hooks.exitPlayer = [this] { options_.endPlayer(0); };
  return hooks;
}

FrmMain &PlayerShell::mainWindow() {
  if (main_.isNull()) {
    main_ = new FrmMain(FrmMain::Services{audio_, *radio_, dialogs_, launcher_, options_.endProgram,
                                          options_.debuggerAttached, options_.stationUrl},
                        mainHooks());
    mainLoaded_ = false;
  }
  return *main_;
}

bool PlayerShell::start() {
  // The desktop opens a stream or playlist by starting the player with it:
  // a copy already running plays it instead of the listener losing it.
  if (stationGiven_ && !guard_.acquire() && StationHandOff::send(guard_.handOffName(), options_.stationUrl))
    return false;
  FrmSplash &window = splash();
  if (!window.load()) return false;
  handOff_.listen();
  window.show();
  // A Wayland compositor decides focus itself and only warns when asked.
  if (windowSystemAbilities().activation) window.activateWindow();
  return true;
}

void PlayerShell::playHandedStation(const QString &url) {
  options_.stationUrl = url;
  if (!mainLoaded_ || main_.isNull()) {
    // Still on the splash: the main window plays it when it is up.
    playOnLoad_ = true;
    if (!splash_.isNull() && splash_->isVisible()) {
      splash_->raise();
      splash_->activateWindow();
    }
    return;
  }
  showMainWindow();
  main_->raise();
  main_->activateWindow();
  pressStop();
  radio_->StationUrls = {url};
  playTries_ = 0;
  pressPlayWhenFree();
}

// The worker opening the previous station may still be blocked in its
// connect after Stop; Play starts nothing while it runs, so it waits.
void PlayerShell::pressPlayWhenFree() {
  constexpr int kMaxTries = 150;  // 15 s, past the engine's connect time limit
  if (radio_->hOpenThread != 0 && ++playTries_ < kMaxTries) {
    playRetry_.start();
    return;
  }
  playRetry_.stop();
  if (!main_.isNull() && mainLoaded_) pressPlay();
}

void PlayerShell::showMainWindow() {
  FrmMain &window = mainWindow();
  if (!mainLoaded_) {
    // A Wayland window cannot be put anywhere, nor learn where it is: the
    // place remembered from an X11 session is neither applied nor replaced.
    if (windowSystemAbilities().placement) rememberPosition(window, settings_);
    if (!window.load()) return;
    mainLoaded_ = true;
    restoreMainWindow(window);
  }
  window.showNormal();
  if (playOnLoad_) {
    playOnLoad_ = false;
    window.raise();
    window.activateWindow();
    radio_->StationUrls = {options_.stationUrl};
    playTries_ = 0;
    pressPlayWhenFree();
  }
}

void PlayerShell::restoreMainWindow(FrmMain &window) {
  if (const std::optional<int> volume = settings_.volume()) moveVolumeSlider(*volume);
  connect(&window, &FrmMain::volumeSet, this, [this](int percent) { settings_.setVolume(percent); });
  // Remembered from a session that had always-on-top; kept for the next one.
  if (settings_.onTop() && canStayOnTop()) setOnTop(true);
  if (options_.mediaKeys) startMediaKeys(window);
}

void PlayerShell::moveVolumeSlider(int percent) {
  if (main_.isNull()) return;
  if (auto *slider = main_->findChild<Slider *>(QStringLiteral("sldVol"))) slider->setValue(percent);
  main_->volumeChanged(percent);
}

void PlayerShell::startMediaKeys(FrmMain &window) {
  mpris::MediaControls controls;
  controls.play = [this] { pressPlay(); };
  controls.stop = [this] { pressStop(); };
  controls.raise = [this] {
    showMainWindow();
    main_->raise();
    main_->activateWindow();
  };
  controls.quit = [this] { exitPlayer(); };
  controls.setVolume = [this](int percent) { moveVolumeSlider(percent); };
  auto *service = new mpris::MprisService(std::move(controls), QDBusConnection::sessionBus(), this);
  if (auto *slider = window.findChild<Slider *>(QStringLiteral("sldVol"))) service->setVolume(slider->value());
  connect(&window, &FrmMain::playCommanded, service, &mpris::MprisService::setPlaying);
  connect(&window, &FrmMain::stationTextSet, service, &mpris::MprisService::setStationText);
  connect(&window, &FrmMain::songTextSet, service, &mpris::MprisService::setSongText);
  connect(&window, &FrmMain::volumeSet, service, &mpris::MprisService::setVolume);
  // Quit arrives through the service itself: it goes once that call returns.
  connect(&window, &FrmMain::unloaded, service, &QObject::deleteLater);
}

void PlayerShell::pressPlay() { mainWindow().button("btnPresents")->click(); }
void PlayerShell::pressStop() { mainWindow().button("lblStop")->click(); }
void PlayerShell::showAbout() { credits_.show(); }
void PlayerShell::showRequest() { request_.show(); }
void PlayerShell::showRecorder() {
  const bool created = recorder_.isNull();
  recorder::showRecorderWindow(recorder_, dialogs_, nullptr, options_.relayPort);
  if (created && !recorder_.isNull())
    rememberFields(*recorder_, settings_,
                   {QStringLiteral("txtServer"), QStringLiteral("txtPort"), QStringLiteral("txtOutPath"),
                    QStringLiteral("chkFilebysong"), QStringLiteral("chkTags")});
}
bool PlayerShell::canStayOnTop() const { return windowSystemAbilities().stayOnTop; }

void PlayerShell::setOnTop(bool on) {
  if (!canStayOnTop()) return;
  onTop_ = on;
  settings_.setOnTop(on);
  if (!main_.isNull()) SetOnTop(main_, on);
}

void PlayerShell::exitPlayer() {
  if (!main_.isNull()) main_->close();
  options_.endPlayer(0);
}

void PlayerShell::endPlayer() { options_.endPlayer(0); }

}  // namespace kirasol
