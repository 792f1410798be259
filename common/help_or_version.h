#pragma once
// --help and --version, answered before any window system is touched, so that
// both programs answer them without a display.

#include <QString>
#include <QStringList>
#include <optional>

namespace kirasol {

// `help` or `version` for stdout when the arguments (arguments[0] being the
// program) ask for one, else nullopt. Only the standard spellings count (-h,
// --help, -?, --help-all, -v, --version) and nothing after "--", so Qt's own
// options pass through untouched.
std::optional<QString> helpOrVersion(const QStringList &arguments, const QString &help, const QString &version);

}  // namespace kirasol
