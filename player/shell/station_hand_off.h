#pragma once
// Hands a station address from a second start of the player to the copy
// that is already running, as a desktop opening a stream or playlist in the
// player expects: the running copy plays it, the second start ends.
//
// The running copy listens on a local socket named after its instance lock
// (InstanceGuard::handOffName), so only a copy of the same installation, of
// the same user, is reached. One line goes each way: the address, then
// "OK" once it has been taken.

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <chrono>

namespace kirasol {

class StationHandOff : public QObject {
  Q_OBJECT
 public:
  // The longest address taken: a line longer than this is refused.
  static constexpr qsizetype kMaxLineBytes = 8 * 1024;

  explicit StationHandOff(QString name, QObject *parent = nullptr);

  // Listens for later starts. Only the holder of the instance lock calls
  // this, so a socket left at the name is a crashed copy's and is replaced.
  bool listen();
  bool isListening() const { return server_.isListening(); }

  // From a second start: gives `url` to the running copy and waits for it to
  // be taken. False when no copy took it within `timeout` (none listens, or
  // an older one that does not).
  static bool send(const QString &name, const QString &url,
                   std::chrono::milliseconds timeout = std::chrono::seconds(3));

 signals:
  // An http(s) address a later start handed over.
  void stationReceived(const QString &url);

 private:
  void onNewConnection();

  QString name_;
  QLocalServer server_;
};

}  // namespace kirasol
