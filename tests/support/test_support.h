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
#include <cmath>
#include <numbers>
#include <vector>
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

// Power of one frequency in a run of mono samples (Goertzel), for tests that
// tell the demo tracks apart by their tones.
template <typename Sample>
double tonePower(const std::vector<Sample> &samples, double frequency, double rate) {
  const double coeff = 2 * std::cos(2 * std::numbers::pi * frequency / rate);
  double s1 = 0, s2 = 0;
  for (const Sample x : samples) {
    const double s0 = double(x) + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return s1 * s1 + s2 * s2 - coeff * s1 * s2;
}

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
