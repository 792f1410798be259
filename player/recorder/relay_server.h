#pragma once
// The relay for one local player (Winamp or any ICY client): it answers the
// player's request with the station's own headers and then passes the
// station's stream on, starting at an audio-run start so that the player's
// metadata counting lines up. UI-thread, event-driven.
//
// Only a player whose request says "Icy-MetaData: 1" gets metadata blocks
// and the icy-metaint header; any other is sent the headers without it and
// the audio alone, as an HTTP client expects. While the station cannot be
// reached (refused, down, reconnecting), a player is answered with a 503
// and its connection closed instead of being held with nothing to play.
//
// The relay lays out the metadata blocks itself, at every icy-metaint audio
// bytes of the headers the player was sent, carrying the station's latest
// block. While one station connection lasts this reproduces the station's
// bytes exactly; when the recorder reconnects mid-stream (the new stream
// starts at an arbitrary point of the player's run, and may even use another
// icy-metaint), the player keeps its framing and never sees a second header
// block.

#include "player/recorder/recorder_state.h"

#include <QByteArrayView>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <chrono>

namespace kirasol::recorder {

class RelayServer : public QObject {
  Q_OBJECT
 public:
  // A player whose unsent data passes this bound has stopped reading.
  static constexpr qint64 kMaxUnsentBytes = 1024 * 1024;
  // A player that has not sent its request this long after connecting is
  // dropped, so that a silent connection cannot hold the one slot.
  static constexpr std::chrono::seconds kRequestTimeout{5};
  // A request longer than this is taken as complete: real ones are a few
  // hundred bytes.
  static constexpr qsizetype kMaxRequestBytes = 16 * 1024;

  RelayServer(RecorderState &state, quint16 port = RELAY_PORT, QObject *parent = nullptr);
  ~RelayServer() override;

  // Drops whatever is open and listens on the relay port.
  void StartServer();
  // Drops the listener and the player; both relay flags false.
  void DownServer();

  // The station's headers are in: a player whose request came earlier is
  // answered now.
  void stationReady();
  // The station cannot be reached, for the reason given (shown to the
  // player): a waiting player and every later one are refused until
  // stationReady() or stationPending(). A player already being served stays.
  void stationLost(const QString &why);
  // A new connection to the station is under way: requests wait for it.
  void stationPending();
  // Relay start check, run between demultiplexing steps: once the player
  // waits and the stream is at the start of an audio run, relaying begins.
  void startCheck();
  // While relaying: one piece of station audio, in stream order, and the
  // text of one station metadata block (16 x length byte bytes).
  void relayAudio(QByteArrayView audio);
  void relayBlock(QByteArrayView metadata);

  quint16 port() const { return port_; }
  bool isListening() const { return sckSender.isListening(); }
  bool hasPlayer() const { return player_ != nullptr; }
  QString statusText() const { return status_; }

 signals:
  // Every lblWinampStatus text, in order (including passing ones).
  void statusChanged(const QString &text);

 private:
  void sckSender_ConnectionRequest();
  void sckSender_DataArrival();
  void sckSender_Close();
  void answer();
  void dropPlayer();
  void refusePlayer();
  void send(QByteArrayView bytes);
  void appendBlock(QByteArray &out);
  void setStatus(const QString &text);

  RecorderState &state_;
  quint16 port_;
  QTcpServer sckSender;              // the listener
  QPointer<QTcpSocket> player_;      // the one accepted player connection
  bool requested_ = false;           // this player has sent its whole request
  QByteArray request_;               // its request as far as it has come
  bool wantsMetadata_ = false;       // it asked for metadata blocks
  QString stationProblem_;           // why the station cannot be reached; empty when it can
  bool headersSent_ = false;         // this player has had its header block
  QTimer requestTimer_;
  // Framing toward the player while relaying.
  std::int32_t metaInt_ = 0;         // icy-metaint of the headers it was sent; 0 = no blocks
  std::int32_t runCount_ = 0;        // audio bytes of its current run
  QByteArray pendingBlock_;          // the station's latest block text for its next block
  QString status_;
};

}  // namespace kirasol::recorder
