#pragma once
// The demo station's command line.

#include "stream_server.h"

#include <QCommandLineParser>
#include <QHostAddress>
#include <QString>
#include <variant>

namespace kirasol::station {

struct StationOptions {
  QHostAddress bind{QHostAddress::LocalHost};
  quint16 streamPort = 8620;
  quint16 httpPort = 8621;
  StreamSettings stream;
  QString tracksFolder;
  QString updateFolder;
};

// Adds the station's options, --help and the description (which states the
// metadata rule) to `parser`.
void addStationOptions(QCommandLineParser &parser);

// The options from an already parsed command line, or a message naming the
// bad value. `programDir` supplies the default folders.
std::variant<StationOptions, QString> readStationOptions(const QCommandLineParser &parser, const QString &programDir);

}  // namespace kirasol::station
