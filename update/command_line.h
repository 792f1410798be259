#pragma once
// The updater's command line. --help and --version are answered before any
// window system is touched, so they work without a display.
//
//   kirasol-update [--update-url URL] [--run]

#include <QString>
#include <QStringList>
#include <optional>

namespace kirasol::update {

QString commandLineHelp();
QString versionLine();

// Help or version text for stdout, or nullopt when the updater should start.
// Only the standard spellings count (-h, --help, -?, --help-all, -v,
// --version), so Qt's own options pass through untouched.
std::optional<QString> immediateAnswer(const QStringList &arguments);

}  // namespace kirasol::update
