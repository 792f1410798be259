#pragma once
// The relay for one local player (Winamp or any ICY client): it answers the
// player's request with the station's own headers and then passes the
// station's bytes on unchanged, starting at an audio-run start so that the
// player's metadata counting lines up. UI-thread, event-driven.

#include "player/recorder/recorder_state.h"

#include <QByteArrayView>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

namespace kirasol::recorder {

class RelayServer : public QObject {
  Q_OBJECT
 public:
  // A player whose unsent data passes this bound has stopped reading.
  static constexpr qint64 kMaxUnsentBytes = 1024 * 1024;

  RelayServer(RecorderState &state, quint16 port = RELAY_PORT, QObject *parent = nullptr);
  ~RelayServer() override;

  // Drops whatever is open and listens on the relay port.
  void StartServer();
  // Drops the listener and the player; both relay flags false.
  void DownServer();

  // Relay start check on the unconsumed rest of the current chunk: once the
  // player waits and the rest begins an audio run, the rest goes out and
  // every later chunk is forwarded whole.
  void startCheck(QByteArrayView rest);
  // Forwards a whole station chunk while relaying.
  void forward(QByteArrayView chunk);

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
  void dropPlayer();
  void send(QByteArrayView bytes);
  void setStatus(const QString &text);

  RecorderState &state_;
  quint16 port_;
  QTcpServer sckSender;              // the listener
  QPointer<QTcpSocket> player_;      // the one accepted player connection
  bool headersSent_ = false;         // this player has had its header block
  QString status_;
};

}  // namespace kirasol::recorder
