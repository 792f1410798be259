#include "player/shell/player_shell.h"

#include <kirasol/build_settings.h>

#include <QApplication>

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
      radio_(std::make_unique<NetRadio>(audio, dialogs)) {
  if (options_.stationUrl.isEmpty()) options_.stationUrl = defaultStationUrl();
  mainHooks_.exitPlayer = [this] { exitPlayer(); };
}

PlayerShell::~PlayerShell() {
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
  }
  return *splash_;
}

FrmMain &PlayerShell::mainWindow() {
  if (main_.isNull()) {
    main_ = new FrmMain(FrmMain::Services{audio_, *radio_, dialogs_, launcher_, options_.endProgram,
                                          options_.debuggerAttached, options_.stationUrl},
                        mainHooks_);
    mainLoaded_ = false;
  }
  return *main_;
}

bool PlayerShell::start() {
  FrmSplash &window = splash();
  if (!window.load()) return false;
  window.show();
  window.activateWindow();
  return true;
}

void PlayerShell::showMainWindow() {
  FrmMain &window = mainWindow();
  if (!mainLoaded_) {
    if (!window.load()) return;
    mainLoaded_ = true;
  }
  window.showNormal();
}

void PlayerShell::exitPlayer() {
  // Unloading every window lets each finish its work (recordings reach the
  // disk) before this process, and only this one, ends.
  if (!main_.isNull()) main_->close();
  if (!splash_.isNull()) splash_->close();
  for (QWidget *window : QApplication::topLevelWidgets()) window->close();
  QCoreApplication::exit(0);
}

}  // namespace kirasol
