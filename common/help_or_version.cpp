#include "common/help_or_version.h"

namespace kirasol {

std::optional<QString> helpOrVersion(const QStringList &arguments, const QString &help, const QString &version) {
  for (const QString &arg : arguments.mid(1)) {
    if (arg == QLatin1String("--")) break;
    if (arg == QLatin1String("-h") || arg == QLatin1String("--help") || arg == QLatin1String("-?") ||
        arg == QLatin1String("--help-all"))
      return help;
    if (arg == QLatin1String("-v") || arg == QLatin1String("--version")) return version;
  }
  return std::nullopt;
}

}  // namespace kirasol
