#include "station_options.h"

#include <QDir>
#include <cmath>

namespace kirasol::station {

void addStationOptions(QCommandLineParser &parser) {
  parser.setApplicationDescription(QStringLiteral(
      "A local Shoutcast-style station for the Kirasol Radio demo and tests.\n"
      "Stream port: any GET gets \"ICY 200 OK\" and the tracks in a loop, each client from the first byte of\n"
      "the first track. With \"Icy-MetaData:1\" in the request a metadata block follows every metaint audio\n"
      "bytes: \"StreamTitle='Artist - Title';StreamUrl='';\" zero-padded to a multiple of 16 bytes (length\n"
      "byte = size/16) when the track of the next audio byte differs from the last announced title (so the\n"
      "first block announces track 1), else a single zero byte (unless --repeat-title).\n"
      "HTTP port: GET /update/<name> (the update folder), GET/POST /postradio/radio.php (song requests),\n"
      "GET / and /chat/.\n"
      "Prints \"ready stream=P http=P\" once both ports listen."));
  parser.addHelpOption();
  parser.addOptions({
      {QStringLiteral("stream-port"), QStringLiteral("Stream port, default 8620 (0 = any free port)."), QStringLiteral("N"),
       QStringLiteral("8620")},
      {QStringLiteral("http-port"), QStringLiteral("HTTP port, default 8621 (0 = any free port)."), QStringLiteral("N"),
       QStringLiteral("8621")},
      {QStringLiteral("bind"), QStringLiteral("Address to listen on, default 127.0.0.1."), QStringLiteral("ADDR"),
       QStringLiteral("127.0.0.1")},
      {QStringLiteral("metaint"), QStringLiteral("Audio bytes between metadata blocks, default 8192."), QStringLiteral("N"),
       QStringLiteral("8192")},
      {QStringLiteral("burst"), QStringLiteral("Audio bytes sent at once before pacing starts, default 65536."),
       QStringLiteral("BYTES"), QStringLiteral("65536")},
      {QStringLiteral("speed"), QStringLiteral("Pace factor, default 1 = real time at the tracks' bit rate."),
       QStringLiteral("F"), QStringLiteral("1")},
      {QStringLiteral("fast"), QStringLiteral("Send as fast as the client reads.")},
      {QStringLiteral("http10"), QStringLiteral("Status line \"HTTP/1.0 200 OK\" instead of \"ICY 200 OK\".")},
      {QStringLiteral("repeat-title"), QStringLiteral("Put the title in every metadata block.")},
      {QStringLiteral("no-icy-name"), QStringLiteral("Leave out the icy-name: header.")},
      {QStringLiteral("once"), QStringLiteral("Play the tracks once, then close the connection.")},
      {QStringLiteral("max-backlog"), QStringLiteral("Unsent bytes after which a client that stopped reading is dropped, default 1048576."),
       QStringLiteral("BYTES"), QStringLiteral("1048576")},
      {QStringLiteral("tracks"), QStringLiteral("Folder with tracks.txt and the MP3 files (default: demo next to the program)."),
       QStringLiteral("DIR")},
      {QStringLiteral("update-dir"), QStringLiteral("Folder served under /update/ (default: demo/update next to the program)."),
       QStringLiteral("DIR")},
  });
}

namespace {

std::optional<qint64> wholeNumber(const QCommandLineParser &p, const QString &name, qint64 min, qint64 max) {
  bool ok = false;
  const qint64 v = p.value(name).trimmed().toLongLong(&ok);
  if (!ok || v < min || v > max) return std::nullopt;
  return v;
}

}  // namespace

std::variant<StationOptions, QString> readStationOptions(const QCommandLineParser &p, const QString &programDir) {
  StationOptions o;
  const auto bad = [&](const QString &name, const QString &what) {
    return QStringLiteral("--%1 %2: expected %3").arg(name, p.value(name), what);
  };
  const auto stream = wholeNumber(p, QStringLiteral("stream-port"), 0, 65535);
  if (!stream) return bad(QStringLiteral("stream-port"), QStringLiteral("a port 0-65535"));
  const auto http = wholeNumber(p, QStringLiteral("http-port"), 0, 65535);
  if (!http) return bad(QStringLiteral("http-port"), QStringLiteral("a port 0-65535"));
  if (*stream != 0 && *stream == *http) return QStringLiteral("the stream and HTTP ports must differ");
  o.streamPort = quint16(*stream);
  o.httpPort = quint16(*http);
  if (!o.bind.setAddress(p.value(QStringLiteral("bind")).trimmed()))
    return bad(QStringLiteral("bind"), QStringLiteral("an IP address"));
  const auto metaInt = wholeNumber(p, QStringLiteral("metaint"), 1, 1 << 20);
  if (!metaInt) return bad(QStringLiteral("metaint"), QStringLiteral("1-1048576"));
  o.stream.metaInt = int(*metaInt);
  const auto burst = wholeNumber(p, QStringLiteral("burst"), 0, 1 << 30);
  if (!burst) return bad(QStringLiteral("burst"), QStringLiteral("a byte count"));
  o.stream.burst = *burst;
  const auto backlog = wholeNumber(p, QStringLiteral("max-backlog"), 1024, qint64(1) << 30);
  if (!backlog) return bad(QStringLiteral("max-backlog"), QStringLiteral("1024 bytes or more"));
  o.stream.maxBacklog = *backlog;
  bool ok = false;
  o.stream.speed = p.value(QStringLiteral("speed")).trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(o.stream.speed) || o.stream.speed <= 0 || o.stream.speed > 10000)
    return bad(QStringLiteral("speed"), QStringLiteral("a factor above 0"));
  o.stream.fast = p.isSet(QStringLiteral("fast"));
  o.stream.http10 = p.isSet(QStringLiteral("http10"));
  o.stream.repeatTitle = p.isSet(QStringLiteral("repeat-title"));
  o.stream.icyName = !p.isSet(QStringLiteral("no-icy-name"));
  o.stream.once = p.isSet(QStringLiteral("once"));
  const QDir dir(programDir);
  o.tracksFolder = p.isSet(QStringLiteral("tracks")) ? p.value(QStringLiteral("tracks"))
                                                     : dir.filePath(QStringLiteral("demo"));
  o.updateFolder = p.isSet(QStringLiteral("update-dir")) ? p.value(QStringLiteral("update-dir"))
                                                         : dir.filePath(QStringLiteral("demo/update"));
  return o;
}

}  // namespace kirasol::station
