#pragma once
// Helpers for tests that need real things: the program folder, a scratch
// folder, a free local port and the demo station as a child process.

#include <QByteArray>
#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <memory>

namespace kirasol::test {

QString programDir();   // the build's program folder (executables + data files)
QString sourceDir();    // the source tree
QString programPath(const QString &name);  // programDir() + "/" + name

// A TCP port on 127.0.0.1 that was free a moment ago.
quint16 freePort();

// Runs the Qt event loop until `done` is true or `timeout` passes; returns done().
bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout);

// Reads a whole file (empty when it cannot be read).
QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &bytes);

// The bundled demo station on free ports. Extra arguments select behaviour
// (see `kirasol-demo-station --help`), for example {"--fast"}.
class DemoStation {
 public:
  explicit DemoStation(const QStringList &extraArgs = {});
  ~DemoStation();
  DemoStation(const DemoStation &) = delete;
  DemoStation &operator=(const DemoStation &) = delete;

  bool started() const { return streamPort_ != 0; }
  quint16 streamPort() const { return streamPort_; }
  quint16 httpPort() const { return httpPort_; }
  QString streamUrl() const;                 // http://127.0.0.1:PORT/
  QString httpUrl(const QString &path) const;  // http://127.0.0.1:PORT + path
  QString errorText() const { return error_; }

 private:
  std::unique_ptr<QProcess> process_;
  quint16 streamPort_ = 0;
  quint16 httpPort_ = 0;
  QString error_;
};

}  // namespace kirasol::test
