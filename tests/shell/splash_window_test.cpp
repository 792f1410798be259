// frmSplash driven through its controls' names, with short timers.

#include "player/shell/frm_splash.h"
#include "player/live_update/live_update_check.h"
#include "player/shell/instance_guard.h"
#include "player/shell/player_shell.h"

#include "playback/fake_audio_library.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSoundEffect>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace kirasol {
namespace {

using namespace std::chrono_literals;

class NullLauncher final : public ProgramLauncher {
 public:
  bool startProgram(const QString &, const QStringList &) override { return false; }
  bool openUrl(const QString &) override { return false; }
};

struct SplashTest : ::testing::Test {
  QTemporaryDir lockDir, workDir;
  InstanceGuard guard{QStringLiteral("/test/kirasol-radio"), lockDir.path()};
  test::ScriptedDialogs dialogs;
  std::vector<int> ends;
  int mainShown = 0;
  QString oldCwd = QDir::currentPath();
  QPointer<FrmSplash> splash;

  SplashTest() {
    QDir::setCurrent(workDir.path());
    splash = new FrmSplash(FrmSplash::Services{dialogs, guard, [this](int code) { ends.push_back(code); },
                                               [this] { ++mainShown; }});
    splash->setAttribute(Qt::WA_DeleteOnClose);
  }
  ~SplashTest() override {
    delete splash.data();
    QDir::setCurrent(oldCwd);
  }
  QTimer *timer(const char *name) { return splash->findChild<QTimer *>(QString::fromLatin1(name)); }
  void shortenTimers() {
    timer("Timer1")->setInterval(5);
    timer("Timer2")->setInterval(1);
    timer("Timer13")->setInterval(1);
  }
  void activate() {
    QEvent activation(QEvent::WindowActivate);
    QCoreApplication::sendEvent(splash, &activation);
  }
};

TEST_F(SplashTest, DesignNamesCaptionsAndIntervals) {
  EXPECT_EQ(splash->windowTitle(), QStringLiteral("Form3"));
  struct TimerCase {
    const char *name;
    int interval;
  };
  for (const TimerCase &t : {TimerCase{"Timer1", 1000}, TimerCase{"Timer2", 90}, TimerCase{"Timer3", 1},
                             TimerCase{"Timer13", 1000}}) {
    ASSERT_NE(timer(t.name), nullptr) << t.name;
    EXPECT_EQ(timer(t.name)->interval(), t.interval) << t.name;
  }
  EXPECT_EQ(splash->findChild<QPushButton *>("Command1")->text(), QStringLiteral("ตรวจสอบ"));
  EXPECT_EQ(splash->findChild<QLabel *>("Label1")->text(), QStringLiteral("อัพเดทเวอร์ชั่นล่าสุด"));
  EXPECT_EQ(splash->findChild<QLabel *>("Label2")->text(), QStringLiteral("V 1.1"));
  EXPECT_EQ(splash->findChild<QGroupBox *>("Frame1")->title(), QStringLiteral("อัพเดทโปรแกรมล่าสุด"));
  EXPECT_NE(splash->findChild<QProgressBar *>("ProgressBar1"), nullptr);
  EXPECT_NE(splash->findChild<QLabel *>("Image1"), nullptr);
  EXPECT_NE(splash->findChild<QSoundEffect *>("Media"), nullptr);
}

TEST_F(SplashTest, VersionComesFromTheCurrentFolder) {
  ASSERT_TRUE(test::writeFile(QDir(workDir.path()).filePath("version.dat"), "1.0.7,extra\r\n"));
  ASSERT_TRUE(splash->load());
  EXPECT_EQ(splash->installedVersion(), QStringLiteral("1.0.7"));
  EXPECT_TRUE(timer("Timer1")->isActive());
  EXPECT_TRUE(timer("Timer13")->isActive());
  EXPECT_FALSE(timer("Timer2")->isActive());
  EXPECT_FALSE(timer("Timer3")->isActive());
}

TEST_F(SplashTest, MissingVersionFileLeavesItEmpty) {
  ASSERT_TRUE(splash->load());
  EXPECT_EQ(splash->installedVersion(), QString());
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(SplashTest, UndisturbedStartChecksOnceFadesAndHandsOver) {
  int checks = 0;
  splash->setUpdateCheck([&](FrmSplash &) { ++checks; });
  shortenTimers();
  ASSERT_TRUE(splash->load());
  splash->show();
  activate();
  EXPECT_EQ(splash->soundStarts(), 1);
  ASSERT_TRUE(test::waitUntil([&] { return mainShown > 0; }, 5s));
  EXPECT_EQ(checks, 1);
  EXPECT_EQ(mainShown, 1);
  ASSERT_TRUE(test::waitUntil([&] { return splash.isNull(); }, 2s)) << "the splash unloads after handing over";
}

TEST_F(SplashTest, CheckButtonCanBePressedAgainAfterTheAutomaticCheck) {
  int checks = 0;
  splash->setUpdateCheck([&](FrmSplash &) { ++checks; });
  timer("Timer13")->setInterval(1);
  ASSERT_TRUE(splash->load());
  ASSERT_TRUE(test::waitUntil([&] { return checks == 1; }, 2s));
  EXPECT_FALSE(timer("Timer13")->isActive()) << "Timer13 presses Command1 once";
  splash->command1()->click();
  EXPECT_EQ(checks, 2);
}

TEST_F(SplashTest, DeclinedUpdateResumesAt240AndFinishesTheFade) {
  std::vector<int> levelsAfterDecline;
  splash->setUpdateCheck([&](FrmSplash &s) {
    s.stopCountdown();
    s.resumeAfterDeclinedUpdate();
    levelsAfterDecline.push_back(s.sequence().opacity());
  });
  timer("Timer13")->setInterval(1);
  timer("Timer2")->setInterval(1);
  ASSERT_TRUE(splash->load());
  splash->show();
  activate();
  ASSERT_TRUE(test::waitUntil([&] { return !levelsAfterDecline.empty(); }, 2s));
  EXPECT_EQ(levelsAfterDecline[0], 240);
  EXPECT_NEAR(splash->windowOpacity(), 240 / 255.0, 0.01);
  EXPECT_FALSE(timer("Timer1")->isActive());
  EXPECT_TRUE(timer("Timer3")->isActive());
  ASSERT_TRUE(test::waitUntil([&] { return mainShown > 0; }, 5s));
}

TEST_F(SplashTest, ReactivationDuringTheFadeRestartsSoundAndLevel) {
  ASSERT_TRUE(splash->load());
  splash->show();
  activate();
  timer("Timer1")->stop();
  timer("Timer13")->stop();
  timer("Timer2")->setInterval(1);
  timer("Timer2")->start();
  ASSERT_TRUE(test::waitUntil([&] { return splash->sequence().opacity() <= 150; }, 2s));
  timer("Timer2")->stop();
  const int soundsBefore = splash->soundStarts();
  activate();
  EXPECT_EQ(splash->soundStarts(), soundsBefore + 1);
  EXPECT_EQ(splash->sequence().opacity(), 250);
  EXPECT_TRUE(splash->findChild<QSoundEffect *>("Media")->source().toLocalFile().endsWith("/intro.wav"));
  EXPECT_EQ(mainShown, 0);
}

TEST(SecondInstance, OnlyTheWarningIsShownAndTheProgramEnds) {
  QTemporaryDir lockDir;
  InstanceGuard running(QStringLiteral("/test/kirasol-radio"), lockDir.path());
  ASSERT_TRUE(running.acquire());

  InstanceGuard guard(QStringLiteral("/test/kirasol-radio"), lockDir.path());
  test::FakeAudioLibrary audio;
  test::ScriptedDialogs dialogs;
  NullLauncher launcher;
  std::vector<int> ends;
  PlayerShell::Options options;
  options.endProgram = [&](int code) { ends.push_back(code); };
  PlayerShell shell(audio, dialogs, launcher, guard, options);
  int checks = 0;
  shell.splash().setUpdateCheck([&](FrmSplash &) { ++checks; });

  EXPECT_FALSE(shell.start());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("โปรแกรมกำลังทำงานอยู่ ไม่สามารถเปิดพร้อมกันได้"));
  EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("Warning"));
  EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
  EXPECT_EQ(ends, std::vector<int>{0});
  EXPECT_FALSE(shell.splash().isVisible()) << "no splash picture";
  EXPECT_EQ(shell.splash().soundStarts(), 0) << "no sound";
  QTest::qWait(50);
  EXPECT_EQ(checks, 0) << "no update check";
  EXPECT_FALSE(shell.hasMainWindow());
  EXPECT_TRUE(audio.calls().empty());
}

// The first start with nothing answering on the update port: the check
// fails quietly (a line on the splash) and no box claims a running copy.
TEST(OfflineUpdateCheck, UnreachableServerShowsNoBox) {
  QTemporaryDir lockDir;
  InstanceGuard guard(QStringLiteral("/test/kirasol-radio"), lockDir.path());
  test::FakeAudioLibrary audio;
  test::ScriptedDialogs dialogs;
  NullLauncher launcher;
  PlayerShell::Options options;
  options.endProgram = [](int) {};
  options.updateBaseUrl = QStringLiteral("http://127.0.0.1:%1/update/").arg(test::freePort());
  PlayerShell shell(audio, dialogs, launcher, guard, options);
  ASSERT_TRUE(shell.start());
  auto *label1 = shell.splash().findChild<QLabel *>("Label1");
  ASSERT_NE(label1, nullptr);
  EXPECT_TRUE(test::waitUntil([&] { return label1->text() == live_update::kCheckFailedText; }, 3s))
      << label1->text().toStdString();
  EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages.front().text.toStdString();
}

}  // namespace
}  // namespace kirasol
