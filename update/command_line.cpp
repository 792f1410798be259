#include "update/command_line.h"

#include <kirasol/build_settings.h>

namespace kirasol::update {

QString versionLine() { return QStringLiteral("kirasol-update %1\n").arg(QLatin1String(settings::kProductVersion)); }

QString commandLineHelp() {
  return QStringLiteral(
      "Usage: kirasol-update [options]\n"
      "Brings the Kirasol Radio files in the current folder up to the update\n"
      "server's version, and starts the player again on exit.\n"
      "\n"
      "Options:\n"
      "  -h, --help       Show this help and exit.\n"
      "  -v, --version    Show the version and exit.\n"
      "  --update-url URL Use this update folder (ending in /update/) instead of\n"
      "                   the built-in one.\n"
      "  --run            Start the update at once, print its messages to standard\n"
      "                   output and end when it is done, without starting the\n"
      "                   player. Exit status 0: updated or already current;\n"
      "                   1: nothing was changed (the messages say why).\n");
}

std::optional<QString> immediateAnswer(const QStringList &arguments) {
  for (const QString &arg : arguments.mid(1)) {
    if (arg == QLatin1String("--")) break;
    if (arg == QLatin1String("-h") || arg == QLatin1String("--help") || arg == QLatin1String("-?") ||
        arg == QLatin1String("--help-all"))
      return commandLineHelp();
    if (arg == QLatin1String("-v") || arg == QLatin1String("--version")) return versionLine();
  }
  return std::nullopt;
}

}  // namespace kirasol::update
