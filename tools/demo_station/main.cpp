// kirasol-demo-station: a local ICY station with an update folder and a
// song-request page, for the demo and the integration tests.

#include "signal_watcher.h"
#include "station_options.h"
#include "stream_server.h"
#include "track_loader.h"
#include "web_site.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

using namespace kirasol::station;

int main(int argc, char **argv) {
  // Before Qt starts any thread, so that every thread leaves the termination
  // signals to the signalfd.
  SignalWatcher::blockTermination();
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("kirasol-demo-station"));

  QCommandLineParser parser;
  addStationOptions(parser);
  parser.process(app);
  auto parsed = readStationOptions(parser, QCoreApplication::applicationDirPath());
  if (auto *error = std::get_if<QString>(&parsed)) {
    std::fprintf(stderr, "kirasol-demo-station: %s\n", qUtf8Printable(*error));
    return 2;
  }
  StationOptions options = std::get<StationOptions>(std::move(parsed));

  auto loaded = loadTracks(options.tracksFolder);
  if (auto *error = std::get_if<QString>(&loaded)) {
    std::fprintf(stderr, "kirasol-demo-station: %s\n", qUtf8Printable(*error));
    return 1;
  }
  const TrackList tracks = std::get<TrackList>(loaded);
  if (const int rate = mpegBitRateKbps(tracks->front().bytes); rate > 0) options.stream.bitRateKbps = rate;
  if (!QDir(options.updateFolder).exists())
    std::fprintf(stderr, "kirasol-demo-station: update folder %s does not exist; /update/ will answer 404\n",
                 qUtf8Printable(options.updateFolder));

  SignalWatcher watcher;
  if (!watcher.ok()) std::fprintf(stderr, "kirasol-demo-station: cannot watch SIGINT/SIGTERM\n");
  QObject::connect(&watcher, &SignalWatcher::terminationRequested, &app, [] { QCoreApplication::exit(0); });

  WebServer web(WebSite(options.updateFolder));
  if (!web.listen(options.bind, options.httpPort)) {
    std::fprintf(stderr, "kirasol-demo-station: cannot listen on HTTP port %u: %s\n", options.httpPort,
                 qUtf8Printable(web.errorString()));
    return 1;
  }
  options.stream.url = QStringLiteral("http://%1:%2/").arg(options.bind.toString()).arg(web.port());
  StreamServer stream(options.stream, tracks);
  if (!stream.listen(options.bind, options.streamPort)) {
    std::fprintf(stderr, "kirasol-demo-station: cannot listen on stream port %u: %s\n", options.streamPort,
                 qUtf8Printable(stream.errorString()));
    return 1;
  }
  QObject::connect(&stream, &StreamServer::clientDropped, [] {
    std::fprintf(stderr, "kirasol-demo-station: dropped a listener that stopped reading\n");
  });
  std::printf("ready stream=%u http=%u\n", stream.port(), web.port());
  std::fflush(stdout);
  return app.exec();
}
