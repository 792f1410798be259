#pragma once
// The recorder's TCP connection to the station, and its recovery: once a
// stream has been accepted, a connection that closes, fails or goes silent
// is reopened by itself with growing pauses until a stream is accepted again
// or the listener tunes elsewhere or closes the window. Before that, the
// first connection of a tune behaves plainly: its close or error is
// reported once and nothing retries. UI-thread, event-driven.

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <chrono>

class QTcpSocket;

namespace kirasol::recorder {

// Pauses before the reconnect attempts that follow a drop: about 1, 2, 4, 8,
// 15 and 30 seconds, then every 30 seconds.
class ReconnectBackoff {
 public:
  std::chrono::seconds next();
  void reset() { attempt_ = 0; }

 private:
  int attempt_ = 0;
};

class StationConnection : public QObject {
  Q_OBJECT
 public:
  // A stream that delivers nothing for this long is taken for dropped.
  static constexpr std::chrono::seconds kStallTime{10};
  // The most bytes handed over per read: a station that sends faster than
  // the window can handle still leaves the event loop turns in between.
  static constexpr qint64 kReadChunk = 64 * 1024;
  // A station sends its stream in many small packets (one every 20 ms is
  // common). What arrives within this pause is handed over as one piece, so
  // the recording, the relay and the window's figures work once per pause
  // instead of once per packet; the bytes and their order stay the same.
  // The socket is unbuffered: after the first packet of a pause nothing
  // wakes the window until the pause is over, the rest waits in the system.
  static constexpr std::chrono::milliseconds kGatherTime{100};
  // The most that is held back in the system, whatever rate a station
  // claims: a second of a 128 kbit/s stream.
  static constexpr qint64 kMaxLowWater = 16 * 1024;
  // With the mark set, the gather timer becomes a backstop: what arrived is
  // handed over at the latest this long after the last hand-over, however
  // slowly the station sends.
  static constexpr std::chrono::milliseconds kLowWaterBackstop = 2 * kGatherTime;

  explicit StationConnection(QObject *parent = nullptr);
  ~StationConnection() override;

  // Drops whatever is open or pending and connects afresh; not recovering.
  void open(const QString &host, quint16 port);
  // The listener's stop: drops the connection and any pending retry.
  void close();
  // The station's headers were accepted: a later drop reconnects, and the
  // pauses start again from the shortest. With the station's bit rate known
  // (kbit/s, 0 if not), the system itself holds the socket back until a
  // pause's worth has arrived, so each pause costs one wake-up.
  void streamAccepted(std::int32_t kbitPerSecond = 0);
  // The caller refuses this connection (headers it cannot use). Recovering:
  // it is dropped and retried later, and true is returned; otherwise it is
  // dropped for good and false is returned.
  bool refuse();

  void send(const QByteArray &bytes);
  // Address of the connected server, as the socket reports it.
  QString peerAddress() const;
  bool recovering() const { return recovering_; }
  bool isOpen() const { return socket_ != nullptr; }
  bool retryPending() const { return retryTimer_.isActive(); }

 signals:
  void connected();
  void dataArrived(const QByteArray &bytes);
  // Without recovery: the peer closed (closed) or the socket failed (failed).
  void closed();
  void failed();
  // Recovering: the connection is gone and the next attempt starts in `wait`.
  void reconnectScheduled(std::chrono::seconds wait);
  // Recovering: an attempt starts now.
  void reconnecting();

 private:
  void connectSocket();
  void dropSocket();
  void onReadyRead();
  // Hands over what the socket holds.
  void deliver();
  // The peer closed (or the socket failed) and the socket is gone.
  void ended(bool failed);
  void onDisconnected();
  void onError();
  void lost();
  void scheduleRetry();

  QPointer<QTcpSocket> socket_;
  QString host_;
  quint16 port_ = 0;
  bool recovering_ = false;
  // Bytes the system holds back before it reports the socket readable;
  // 0 while the station's rate is unknown.
  qint64 lowWater_ = 0;
  ReconnectBackoff backoff_;
  QTimer stallTimer_;
  QTimer retryTimer_;
  QTimer gatherTimer_;
};

}  // namespace kirasol::recorder
