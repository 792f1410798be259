#include "player/live_update/kill_process.h"
#include "player/live_update/player_exit.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace kirasol::live_update {
namespace {

using namespace std::chrono_literals;

// Copies of /bin/sleep under distinctive names, so that nothing else on the
// machine can match.
class Sleepers : public ::testing::Test {
 protected:
  void SetUp() override {
    tag_ = QStringLiteral("KsProbe%1").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
  }
  void TearDown() override {
    for (auto &p : processes_) {
      if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished(3000);
      }
    }
  }
  // Starts a sleeper whose file name is `prefix` + tag + `suffix`.
  QProcess *start(const QString &fileName) {
    const QString path = dir_.filePath(fileName);
    if (!QFile::exists(path)) {
      EXPECT_TRUE(QFile::copy("/bin/sleep", path));
      QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    processes_.push_back(std::make_unique<QProcess>());
    QProcess *p = processes_.back().get();
    p->start(path, {"60"});
    EXPECT_TRUE(p->waitForStarted(5000));
    // The exec has happened once /proc shows the new file name.
    EXPECT_TRUE(kirasol::test::waitUntil([&] { return findProcessByName(fileName).has_value(); }, 5s));
    return p;
  }
  static bool endedBySigterm(QProcess *p) {
    return p->waitForFinished(5000) && p->exitStatus() == QProcess::CrashExit && p->exitCode() == SIGTERM;
  }
  static bool stillRunning(QProcess *p) {
    p->waitForFinished(300);
    return p->state() == QProcess::Running;
  }

  QString tag_;
  QTemporaryDir dir_;
  std::vector<std::unique_ptr<QProcess>> processes_;
};

TEST_F(Sleepers, NamesMatchIgnoringCaseAnywhereInTheFileName) {
  const struct {
    const char *name;
    QString fileName;
    QString given;
    bool matches;
  } cases[] = {
      {"same name in capitals", tag_.toUpper() + ".BIN", tag_.toLower() + ".bin", true},
      {"name with a prefix", "old-" + tag_, tag_, true},
      {"name given longer than the file name", tag_, tag_ + "x", false},
      {"empty name matches nothing", tag_ + "e", "", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    QProcess *p = start(c.fileName);
    EXPECT_EQ(findProcessByName(c.given).has_value(), c.matches);
    KillProcessByName(c.given);
    if (c.matches) {
      EXPECT_TRUE(endedBySigterm(p));
    } else {
      EXPECT_TRUE(stillRunning(p));
    }
  }
}

TEST_F(Sleepers, OnlyTheFirstMatchInPidOrderIsEnded) {
  QProcess *a = start("a-" + tag_);
  QProcess *b = start("b-" + tag_);
  QProcess *first = a->processId() < b->processId() ? a : b;
  QProcess *second = first == a ? b : a;
  EXPECT_EQ(findProcessByName(tag_), pid_t(first->processId()));
  KillProcessByName(tag_);
  EXPECT_TRUE(endedBySigterm(first));
  EXPECT_TRUE(stillRunning(second));
  KillProcessByName(tag_);
  EXPECT_TRUE(endedBySigterm(second));
}

TEST_F(Sleepers, ProcessListIsInAscendingPidOrderAndIncludesThisProcess) {
  const std::vector<RunningProcess> all = runningProcesses();
  ASSERT_FALSE(all.empty());
  for (size_t i = 1; i < all.size(); ++i) EXPECT_LT(all[i - 1].pid, all[i].pid);
  const auto self = std::find_if(all.begin(), all.end(), [](const RunningProcess &p) { return p.pid == ::getpid(); });
  ASSERT_NE(self, all.end());
  EXPECT_EQ(self->fileName, QFileInfo(QCoreApplication::applicationFilePath()).fileName());
}

TEST_F(Sleepers, EndingThePlayerEndsItsOwnEventLoopsAndNoOtherProcess) {
  // A process whose name contains the player's comes before nothing here:
  // it must survive however the player ends.
  QProcess *other = start("kirasol-radio-" + tag_);

  QTimer::singleShot(0, [] { endThisPlayer(7); });
  EXPECT_EQ(QCoreApplication::exec(), 7);

  // From inside a nested loop (a modal box, a synchronous fetch) every loop returns.
  bool nestedReturned = false;
  QTimer::singleShot(0, [&] {
    QEventLoop nested;
    QTimer::singleShot(0, [] { endThisPlayer(3); });
    nested.exec();
    nestedReturned = true;
  });
  EXPECT_EQ(QCoreApplication::exec(), 3);
  EXPECT_TRUE(nestedReturned);

  // Before the main loop runs, the exit waits for it.
  endThisPlayer(5);
  EXPECT_EQ(QCoreApplication::exec(), 5);

  EXPECT_TRUE(stillRunning(other));
}

}  // namespace
}  // namespace kirasol::live_update
