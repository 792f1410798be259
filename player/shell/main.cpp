// Kirasol Radio: assembles the player and runs it.

#include "common/dialogs.h"
#include "common/product_icon.h"
#include "common/system_program_launcher.h"
#include "player/playback/audio_library.h"
#include "player/shell/main_window_rules.h"
#include "player/shell/player_shell.h"
#include "player/side_windows/web_engine_setup.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
  kirasol::side::prepareWebEngine();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kirasol Radio"));
  QApplication::setApplicationVersion(QStringLiteral("1.1"));
  QApplication::setWindowIcon(kirasol::productIcon());

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Kirasol Radio: the station's internet radio player."));
  parser.addHelpOption();
  const QCommandLineOption station(QStringLiteral("station"),
                                   QStringLiteral("Play this stream URL instead of the built-in station."),
                                   QStringLiteral("URL"));
  parser.addOption(station);
  parser.process(app);

  kirasol::QtDialogs dialogs;
  kirasol::SystemProgramLauncher launcher;
  kirasol::BassAudioLibrary audio;
  kirasol::InstanceGuard guard(QCoreApplication::applicationFilePath());

  kirasol::PlayerShell::Options options;
  options.stationUrl = parser.value(station);
  options.endProgram = [](int code) {
    // An immediate end: no window unloads, nothing is released.
    std::fflush(nullptr);
    std::_Exit(code);
  };
  options.debuggerAttached = [] { return kirasol::isIDEmode(); };

  kirasol::PlayerShell shell(audio, dialogs, launcher, guard, std::move(options));
  if (!shell.start()) return 0;
  return QApplication::exec();
}
