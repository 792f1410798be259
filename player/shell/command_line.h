#pragma once
// The player's command line. --help and --version are answered before any
// window system is touched (they must work without a display); the station
// argument is resolved once the application exists.
//
//   kirasol-radio [--station URL] [URL-or-playlist]
//
// The launcher entry passes what a browser or file manager opened (%U): a
// stream address, an address of a .pls/.m3u playlist (the audio engine
// resolves those), or a local playlist file, as a path or a file:// URL,
// which is read here because the engine speaks HTTP only.

#include <QString>
#include <QStringList>
#include <optional>

namespace kirasol {

// The text --help prints, and --version's line.
QString commandLineHelp();
QString versionLine();

// What to answer at once: help or version text for stdout, nullopt when the
// player should start. Only the standard spellings count (-h, --help, -?,
// --help-all, -v, --version), so Qt's own options pass through untouched.
std::optional<QString> immediateAnswer(const QStringList &arguments);

// The station a station argument names: an http(s) address as it is; a local
// playlist (path relative to `workingDir`, or file:// URL) gives its first
// http(s) entry. On failure returns nullopt and sets `error` to a message for
// the listener.
std::optional<QString> stationFromArgument(const QString &argument, const QString &workingDir, QString &error);

}  // namespace kirasol
