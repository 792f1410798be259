#pragma once
// The station's stream port: every client that sends a GET gets the ICY
// response headers and then its own stream of the tracks from the first byte
// of the first track, paced at the tracks' bit rate after an initial burst.

#include "icy_framer.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

class QTcpServer;

namespace kirasol::station {

struct StreamSettings {
  int metaInt = 8192;            // audio bytes between metadata blocks
  qint64 burst = 65536;          // audio bytes sent at once before pacing starts
  double speed = 1.0;            // pace factor; 1 = real time
  bool fast = false;             // as fast as the client reads
  bool http10 = false;           // "HTTP/1.0 200 OK" status line instead of "ICY 200 OK"
  bool repeatTitle = false;      // title in every metadata block
  bool icyName = true;           // send icy-name:
  bool once = false;             // close after one pass over the tracks
  qint64 maxBacklog = 1 << 20;   // unsent bytes after which a client is dropped
  int bitRateKbps = 128;         // announced in icy-br: and used for pacing
  QString stationName = QStringLiteral("Kirasol Demo Station");
  QString genre = QStringLiteral("Demo");
  QString url;                   // icy-url:
};

// The response head a stream client receives; icy-metaint: only when the
// request asked for metadata.
QByteArray streamResponseHead(const StreamSettings &settings, bool withMetadata);

class StreamServer : public QObject {
  Q_OBJECT
 public:
  StreamServer(StreamSettings settings, TrackList tracks, QObject *parent = nullptr);
  ~StreamServer() override;

  bool listen(const QHostAddress &address, quint16 port);
  quint16 port() const;
  QString errorString() const;
  int clientCount() const { return clients_; }

 signals:
  // A client was dropped because it fell too far behind.
  void clientDropped();

 private:
  void accept();

  StreamSettings settings_;
  TrackList tracks_;
  QTcpServer *server_;
  int clients_ = 0;
};

}  // namespace kirasol::station
