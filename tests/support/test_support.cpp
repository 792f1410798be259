#include "support/test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QThread>

namespace kirasol::test {

QString programDir() { return QStringLiteral(KIRASOL_PROGRAM_DIR); }
QString sourceDir() { return QStringLiteral(KIRASOL_SOURCE_DIR); }
QString programPath(const QString &name) { return programDir() + u'/' + name; }

quint16 freePort() {
  QTcpServer server;
  if (!server.listen(QHostAddress::LocalHost, 0)) return 0;
  return server.serverPort();
}

bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() >= timeout.count()) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

QByteArray readFile(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

bool writeFile(const QString &path, const QByteArray &bytes) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  return f.write(bytes) == bytes.size();
}

DemoStation::DemoStation(const QStringList &extraArgs) : process_(std::make_unique<QProcess>()) {
  // Port 0 lets the station pick free ports itself; it announces them on its
  // first line of output, so no other process can take them in between.
  QStringList args{QStringLiteral("--stream-port"), QStringLiteral("0"), QStringLiteral("--http-port"),
                   QStringLiteral("0")};
  args += extraArgs;
  process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_->start(programPath(QStringLiteral("kirasol-demo-station")), args);
  if (!process_->waitForStarted(5000)) {
    error_ = QStringLiteral("demo station did not start: ") + process_->errorString();
    return;
  }
  QByteArray out;
  QElapsedTimer timer;
  timer.start();
  static const QRegularExpression ready(QStringLiteral("ready stream=(\\d+) http=(\\d+)"));
  while (timer.elapsed() < 10000) {
    process_->waitForReadyRead(100);
    out += process_->readAllStandardOutput();
    const auto m = ready.match(QString::fromUtf8(out));
    if (m.hasMatch()) {
      streamPort_ = quint16(m.captured(1).toUInt());
      httpPort_ = quint16(m.captured(2).toUInt());
      return;
    }
    if (process_->state() == QProcess::NotRunning) break;
  }
  error_ = QStringLiteral("demo station did not report ready: ") + QString::fromUtf8(out);
}

DemoStation::~DemoStation() {
  if (process_->state() != QProcess::NotRunning) {
    process_->terminate();
    if (!process_->waitForFinished(3000)) {
      process_->kill();
      process_->waitForFinished(3000);
    }
  }
}

QString DemoStation::streamUrl() const { return QStringLiteral("http://127.0.0.1:%1/").arg(streamPort_); }
QString DemoStation::httpUrl(const QString &path) const {
  return QStringLiteral("http://127.0.0.1:%1%2").arg(httpPort_).arg(path);
}

}  // namespace kirasol::test
