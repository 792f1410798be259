#pragma once
// Turns SIGINT and SIGTERM into a Qt signal on the event loop, through a
// signalfd: nothing runs inside a signal handler.

#include <QObject>

class QSocketNotifier;

namespace kirasol::station {

class SignalWatcher : public QObject {
  Q_OBJECT
 public:
  // Blocks SIGINT and SIGTERM for the calling thread (and threads it starts
  // later), so call it before any other thread exists.
  static void blockTermination();

  explicit SignalWatcher(QObject *parent = nullptr);
  ~SignalWatcher() override;
  bool ok() const { return fd_ >= 0; }

 signals:
  void terminationRequested(int signalNumber);

 private:
  int fd_ = -1;
  QSocketNotifier *notifier_ = nullptr;
};

}  // namespace kirasol::station
