// Kirasol Radio: assembles the player and runs it.

#include "common/dialogs.h"
#include "common/product_icon.h"
#include "common/system_program_launcher.h"
#include "common/thai_button_texts.h"
#include "player/playback/audio_library.h"
#include "player/settings/player_settings.h"
#include "player/shell/command_line.h"
#include "player/shell/main_window_rules.h"
#include "player/shell/player_shell.h"
#include "player/shell/window_system.h"

#include <kirasol/build_settings.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
  // Answered before any window system is touched, so they work anywhere.
  QStringList rawArguments;
  for (int i = 0; i < argc; ++i) rawArguments << QString::fromLocal8Bit(argv[i]);
  if (const std::optional<QString> answer = kirasol::immediateAnswer(rawArguments)) {
    std::fputs(answer->toLocal8Bit().constData(), stdout);
    return 0;
  }
  kirasol::preferWaylandInWaylandSessions();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kirasol Radio"));
  QApplication::setApplicationVersion(QString::fromLatin1(kirasol::settings::kProductVersion));
  QApplication::setWindowIcon(kirasol::productIcon());
  kirasol::installThaiButtonTexts();

  QCommandLineParser parser;
  const QCommandLineOption station(QStringLiteral("station"),
                                   QStringLiteral("Play this stream URL instead of the built-in station."),
                                   QStringLiteral("URL"));
  parser.addOption(station);
  parser.addPositionalArgument(QStringLiteral("address"), QStringLiteral("A stream address or playlist."));
  const QCommandLineOption updateUrl(QStringLiteral("update-url"),
                                     QStringLiteral("Check this update folder (ending in /update/) instead of the "
                                                    "built-in one."),
                                     QStringLiteral("URL"));
  parser.addOption(updateUrl);
  parser.process(app);

  kirasol::QtDialogs dialogs;
  QString stationArgument = parser.value(station);
  if (stationArgument.isEmpty() && !parser.positionalArguments().isEmpty())
    stationArgument = parser.positionalArguments().constFirst();
  QString stationUrl;
  if (!stationArgument.isEmpty()) {
    QString error;
    const std::optional<QString> resolved = kirasol::stationFromArgument(stationArgument, QDir::currentPath(), error);
    if (!resolved) {
      std::fprintf(stderr, "kirasol-radio: %s\n", error.toLocal8Bit().constData());
      dialogs.message(nullptr, kirasol::MessageRequest{error, QStringLiteral("Kirasol Radio"),
                                                       kirasol::MessageIcon::Warning, kirasol::MessageButtons::Ok});
      return 2;
    }
    stationUrl = *resolved;
  }
  // The program's files live in its folder and are looked up in the current
  // one: start there, as the launcher's Path= does, however it was started.
  QDir::setCurrent(QCoreApplication::applicationDirPath());

  kirasol::SystemProgramLauncher launcher;
  kirasol::BassAudioLibrary audio;
  kirasol::InstanceGuard guard(QCoreApplication::applicationFilePath());

  kirasol::PlayerShell::Options options;
  options.stationUrl = stationUrl;
  options.updateBaseUrl = parser.value(updateUrl);
  options.endProgram = [](int code) {
    // An immediate end: no window unloads, nothing is released.
    std::fflush(nullptr);
    std::_Exit(code);
  };
  options.debuggerAttached = [] { return kirasol::isIDEmode(); };
  options.settingsFile = kirasol::PlayerSettings::defaultFile();
  options.mediaKeys = true;

  kirasol::PlayerShell shell(audio, dialogs, launcher, guard, std::move(options));
  if (!shell.start()) return 0;
  return QApplication::exec();
}
