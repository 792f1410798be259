// The real player, started against update servers that fail the way real
// ones do: refusing, answering only after the splash has handed over, and
// accepting but never answering. Its splash, boxes and main window are real;
// nobody answers the boxes. Whatever the server does, the player must come
// up (its main window opens the recording input on the sound server) and
// keep running past the countdown and past the fetch's time limit.

#include "support/test_http_server.h"
#include "support/test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace kirasol {
namespace {

using namespace std::chrono_literals;

// Streams the sound server reads from this process: the main window's load
// opens the recording input; the splash only plays.
bool recordsSound(qint64 pid) {
  QProcess pactl;
  pactl.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("source-outputs")});
  if (!pactl.waitForFinished(5000)) return false;
  const QString listing = QString::fromUtf8(pactl.readAllStandardOutput());
  return listing.contains(QStringLiteral("application.process.id = \"%1\"").arg(pid));
}

// One player in a program folder of its own: its own single-instance lock
// and its own copy of the update page.
class PlayerRun {
 public:
  PlayerRun(const QString &name, const QString &updateUrl) : name_(name) {
    const QDir from(test::programDir());
    const QStringList data = from.entryList({QStringLiteral("*.png"), QStringLiteral("*.wav"), QStringLiteral("*.dat"),
                                             QStringLiteral("*.txt")},
                                            QDir::Files);
    for (const QString &file : data + QStringList{QStringLiteral("kirasol-radio")})
      QFile::copy(from.filePath(file), QDir(folder_.path()).filePath(file));
    process_.setWorkingDirectory(folder_.path());
    process_.start(QDir(folder_.path()).filePath(QStringLiteral("kirasol-radio")),
                   {QStringLiteral("--update-url"), updateUrl, QStringLiteral("--station"),
                    QStringLiteral("http://127.0.0.1:9/")});
    process_.waitForStarted(10000);
  }
  ~PlayerRun() {
    process_.kill();
    process_.waitForFinished(5000);
  }
  bool running() const { return process_.state() == QProcess::Running; }
  qint64 pid() const { return process_.processId(); }
  const QString &name() const { return name_; }
  QString folder() const { return folder_.path(); }
  QString errors() {
    stderr_ += QString::fromUtf8(process_.readAllStandardError());
    return stderr_;
  }
  QString ending() {
    return QStringLiteral("%1 ended: exit %2%3\n%4")
        .arg(name_)
        .arg(process_.exitCode())
        .arg(process_.exitStatus() == QProcess::CrashExit ? QStringLiteral(" (crashed)") : QString())
        .arg(errors());
  }

 private:
  QString name_;
  QTemporaryDir folder_;
  QProcess process_;
  QString stderr_;
};

test::HttpResponse page(test::HttpResponse::Mode mode, int delayMs = 0) {
  test::HttpResponse r;
  r.body = "9.9\r\n";  // newer than any installed version: the update is offered
  r.mode = mode;
  r.delayMs = delayMs;
  return r;
}

TEST(OfflineStart, EveryUpdateServerFailureLeavesThePlayerRunning) {
  ASSERT_TRUE(QFileInfo::exists(test::programPath(QStringLiteral("kirasol-radio"))));
  test::TestHttpServer late, silent;
  ASSERT_TRUE(late.listen());
  ASSERT_TRUE(silent.listen());
  // Splash: the check at 1 s, the fade from 4 s, the main window at about 6.3 s.
  late.setRoute(QStringLiteral("/update/liveupdate.html"), page(test::HttpResponse::Mode::Normal, 9000));
  silent.setRoute(QStringLiteral("/update/liveupdate.html"), page(test::HttpResponse::Mode::Stall));
  const quint16 refusing = test::freePort();

  std::vector<std::unique_ptr<PlayerRun>> players;
  players.push_back(std::make_unique<PlayerRun>(
      QStringLiteral("refused"), QStringLiteral("http://127.0.0.1:%1/update/").arg(refusing)));
  players.push_back(std::make_unique<PlayerRun>(QStringLiteral("late answer"), late.url(QStringLiteral("/update/"))));
  players.push_back(std::make_unique<PlayerRun>(QStringLiteral("never answers"), silent.url(QStringLiteral("/update/"))));
  QElapsedTimer clock;
  clock.start();

  const auto allRunningUntil = [&](std::chrono::milliseconds when) {
    test::waitUntil([&] {
      for (auto &p : players)
        if (!p->running()) return true;
      return false;
    }, when - std::chrono::milliseconds(clock.elapsed()));
    bool ok = true;
    for (auto &p : players) {
      EXPECT_TRUE(p->running()) << p->ending().toStdString() << " at " << clock.elapsed() << " ms";
      ok = ok && p->running();
    }
    return ok;
  };

  // Past the countdown and the late answer; every main window has loaded.
  ASSERT_TRUE(allRunningUntil(12s));
  for (auto &p : players) EXPECT_TRUE(recordsSound(p->pid())) << p->name().toStdString() << ": no main window";
  // Past the silent server's time limit (30 s from the check at 1 s) and the
  // box that follows it.
  ASSERT_TRUE(allRunningUntil(36s));
  EXPECT_EQ(silent.requestedPaths(), QStringList{QStringLiteral("/update/liveupdate.html")});
  // The late page names a newer version; the signed version.dat behind it
  // is missing, so nothing is offered.
  EXPECT_EQ(late.requestedPaths(),
            QStringList({QStringLiteral("/update/liveupdate.html"), QStringLiteral("/update/version.dat")}));

  static const QRegularExpression sanitizer(QStringLiteral("Sanitizer|runtime error:"));
  for (auto &p : players) EXPECT_FALSE(p->errors().contains(sanitizer)) << p->errors().toStdString();
}

// What the desktop does while the player runs (its launcher entry starts
// `kirasol-radio URL`): the running player plays that address, and the
// second start ends at once with 0 instead of waiting on the "already
// running" box.
TEST(SecondStart, HandsItsStationToTheRunningPlayer) {
  test::TestHttpServer station;
  ASSERT_TRUE(station.listen());
  station.setRoute(QStringLiteral("/handed.mp3"), page(test::HttpResponse::Mode::Normal));
  PlayerRun first(QStringLiteral("first"), QStringLiteral("http://127.0.0.1:%1/update/").arg(test::freePort()));
  ASSERT_TRUE(test::waitUntil([&] { return !first.running() || recordsSound(first.pid()); }, 20s))
      << "no main window";
  ASSERT_TRUE(first.running()) << first.ending().toStdString();

  QProcess second;
  second.setWorkingDirectory(first.folder());
  second.start(QDir(first.folder()).filePath(QStringLiteral("kirasol-radio")), {station.url(QStringLiteral("/handed.mp3"))});
  const bool ended = test::waitUntil([&] { return second.state() == QProcess::NotRunning; }, 15s);
  EXPECT_TRUE(ended) << "the second start still runs (a box?)";
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
  EXPECT_TRUE(test::waitUntil([&] { return station.requestedPaths().contains(QStringLiteral("/handed.mp3")); }, 15s))
      << "the running player did not open the handed station";
  EXPECT_TRUE(first.running()) << first.ending().toStdString();
  if (!ended) {
    second.kill();
    second.waitForFinished(5000);
  }
}

}  // namespace
}  // namespace kirasol
