#include "update/command_line.h"

#include <kirasol/build_settings.h>

#include "common/help_or_version.h"

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
  return helpOrVersion(arguments, commandLineHelp(), versionLine());
}

}  // namespace kirasol::update
