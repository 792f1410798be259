#include "player/shell/station_hand_off.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QUrl>

namespace kirasol {

namespace {

constexpr std::chrono::seconds kLineTimeout{3};

bool isStationAddress(const QString &text) {
  const QUrl url(text, QUrl::StrictMode);
  return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") && !url.host().isEmpty();
}

}  // namespace

StationHandOff::StationHandOff(QString name, QObject *parent) : QObject(parent), name_(std::move(name)) {
  // Only this user's own later starts may hand a station over.
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  connect(&server_, &QLocalServer::newConnection, this, &StationHandOff::onNewConnection);
}

bool StationHandOff::listen() {
  if (server_.isListening()) return true;
  QLocalServer::removeServer(name_);
  return server_.listen(name_);
}

void StationHandOff::onNewConnection() {
  while (QLocalSocket *socket = server_.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // A start that connects and says nothing is not waited for.
    QTimer::singleShot(kLineTimeout, socket, [socket] { socket->abort(); });
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxLineBytes) socket->abort();
        return;
      }
      const QString line = QString::fromUtf8(socket->readLine(kMaxLineBytes + 1)).trimmed();
      const bool taken = isStationAddress(line);
      socket->write(taken ? "OK\n" : "NO\n");
      socket->disconnectFromServer();
      if (taken) emit stationReceived(line);
    });
  }
}

bool StationHandOff::send(const QString &name, const QString &url, std::chrono::milliseconds timeout) {
  const QDeadlineTimer deadline(timeout);
  // The running copy may be starting still (its lock taken, not yet
  // listening): a few tries within the time.
  while (!deadline.hasExpired()) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(int(deadline.remainingTime()))) {
      QThread::msleep(100);
      continue;
    }
    socket.write(url.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(int(deadline.remainingTime()))) return false;
    while (!socket.canReadLine()) {
      if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime()))) return false;
    }
    return socket.readLine().trimmed() == "OK";
  }
  return false;
}

}  // namespace kirasol
