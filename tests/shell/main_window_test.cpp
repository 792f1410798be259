// frmMain driven through its controls' names against a scripted audio library.

#include "controls/slider/slider.h"
#include "player/shell/frm_main.h"
#include "player/shell/player_shell.h"

#include "playback/fake_audio_library.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"

#include <kirasol/build_settings.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace kirasol {
namespace {

using namespace std::chrono_literals;
using test::FakeAudioLibrary;

class RecordingLauncher final : public ProgramLauncher {
 public:
  QStringList urls;
  bool startProgram(const QString &, const QStringList &) override { return false; }
  bool openUrl(const QString &url) override { return urls << url, true; }
};

struct MainWindowTest : ::testing::Test {
  FakeAudioLibrary audio;
  test::ScriptedDialogs dialogs;
  RecordingLauncher launcher;
  NetRadio radio{audio, dialogs};
  std::vector<int> ends;
  bool debugger = false;
  bool trayPresent = false;
  int requests = 0, exits = 0;
  QString oldCwd = QDir::currentPath();
  QPointer<FrmMain> window;

  ~MainWindowTest() override {
    delete window.data();
    radio.waitForWorker();
    QDir::setCurrent(oldCwd);
  }
  FrmMain &make(QString url = QStringLiteral("http://127.0.0.1:8620")) {
    FrmMain::Hooks hooks;
    hooks.trayCanRestore = [this] { return trayPresent; };
    hooks.showRequest = [this] { ++requests; };
    hooks.exitPlayer = [this] { ++exits; };
    window = new FrmMain(FrmMain::Services{audio, radio, dialogs, launcher, [this](int c) { ends.push_back(c); },
                                           [this] { return debugger; }, url},
                         hooks);
    return *window;
  }
  QLabel *label(const char *name) { return window->findChild<QLabel *>(QString::fromLatin1(name)); }
  QTimer *timer(const char *name) { return window->findChild<QTimer *>(QString::fromLatin1(name)); }
  QString text(const char *name) { return label(name)->text(); }
  void settle() {
    radio.waitForWorker();
    QCoreApplication::processEvents();
  }
};

TEST_F(MainWindowTest, ControlsCarryTheirDesignNamesAndTexts) {
  make();
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Kirasol Radio"));
  EXPECT_EQ(window->size(), QSize(281, 172));
  struct Button {
    const char *name, *text;
  };
  for (const Button &b : {Button{"btnPresents", "Play!"}, Button{"lblStop", "Stop!"}, Button{"PushButton1", "Stop!"},
                          Button{"lblExit", "Close!"}, Button{"lblMini", "Minimize"}, Button{"Request", "Request"},
                          Button{"cmdUpdate", "Chat!!"}}) {
    ASSERT_NE(window->button(b.name), nullptr) << b.name;
    EXPECT_EQ(window->button(b.name)->text(), QString::fromLatin1(b.text)) << b.name;
  }
  struct Label {
    const char *name, *text;
  };
  for (const Label &l : {Label{"lblSong", "Current Song "}, Label{"lblCPU", "0.0"}, Label{"Timer", "00:00:00"},
                         Label{"lblVolume", "(50%)"}, Label{"lblModem", "CPU"}, Label{"lblBroadband", "Vol :"}}) {
    ASSERT_NE(label(l.name), nullptr) << l.name;
    EXPECT_EQ(text(l.name), QString::fromLatin1(l.text)) << l.name;
  }
  EXPECT_NE(label("lblName"), nullptr);
  EXPECT_NE(label("lblBPS"), nullptr);
  EXPECT_NE(label("Label1"), nullptr);
  struct Interval {
    const char *name;
    int ms;
  };
  for (const Interval &t : {Interval{"tmrNetRadio", 50}, Interval{"tmrBass2", 250}, Interval{"tmrLiveSpec", 25},
                            Interval{"Timer3", 400}, Interval{"Timer5", 1000}, Interval{"Timer6", 1000}}) {
    ASSERT_NE(timer(t.name), nullptr) << t.name;
    EXPECT_EQ(timer(t.name)->interval(), t.ms) << t.name;
  }
}

TEST_F(MainWindowTest, LoadRunsInOrderAndMovesToTheProgramFolder) {
  QTemporaryDir elsewhere;
  QDir::setCurrent(elsewhere.path());
  ASSERT_TRUE(make(QStringLiteral("http://example.invalid:9000/")).load());
  EXPECT_EQ(audio.calls(), (std::vector<std::string>{"GetVersion", "Init", "SetVolume", "SetConfig 21=1",
                                                     "SetConfig 15=0", "SetConfigPtr 17=null", "SetConfig 37=10000",
                                                     "RecordInit", "RecordStart 44100 1"}));
  EXPECT_EQ(QDir::currentPath(), QDir(QCoreApplication::applicationDirPath()).canonicalPath());
  EXPECT_EQ(radio.CurrentChannel, audio.recordHandle);
  EXPECT_EQ(radio.StationUrls, QStringList{"http://example.invalid:9000/"});
  EXPECT_EQ(radio.hOpenThread, 0u);
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(timer("tmrLiveSpec")->isActive());
  EXPECT_FALSE(timer("Timer5")->isActive());
  EXPECT_TRUE(timer("tmrNetRadio")->isActive());
  EXPECT_TRUE(ends.empty());
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(MainWindowTest, StartUpFailuresShowOneBoxAndEndTheProgram) {
  struct Case {
    const char *what;
    std::function<void(FakeAudioLibrary &)> breakIt;
    QString text;
    MessageIcon icon;
    const char *lastCall;
  };
  const Case cases[] = {
      {"version 2.3", [](FakeAudioLibrary &a) { a.version = 0x02031100; }, QStringLiteral("เวอร์ชั่นของ BASS.DLL ไม่ถูกต้อง"),
       MessageIcon::Critical, "GetVersion"},
      {"init", [](FakeAudioLibrary &a) { a.initResult = FALSE; },
       QStringLiteral("Can't initialize device\r\n\r\nerror code: 23"), MessageIcon::Warning, "Init"},
      {"record init", [](FakeAudioLibrary &a) { a.recordInitResult = FALSE; },
       QStringLiteral("Can't initialize device\r\n\r\nerror code: 23"), MessageIcon::Warning, "RecordInit"},
      {"record start", [](FakeAudioLibrary &a) { a.recordHandle = 0; },
       QStringLiteral("Can't start recording\r\n\r\nerror code: 23"), MessageIcon::Warning, "RecordStart 44100 1"},
  };
  for (const Case &c : cases) {
    FakeAudioLibrary broken;
    c.breakIt(broken);
    test::ScriptedDialogs boxes;
    NetRadio netRadio(broken, boxes);
    std::vector<int> ended;
    FrmMain::Hooks hooks;
    QPointer<FrmMain> w = new FrmMain(
        FrmMain::Services{broken, netRadio, boxes, launcher, [&](int code) { ended.push_back(code); }, {}, "u"},
        hooks);
    EXPECT_FALSE(w->load()) << c.what;
    ASSERT_EQ(boxes.messages.size(), 1u) << c.what;
    EXPECT_EQ(boxes.messages[0].text, c.text) << c.what;
    EXPECT_EQ(boxes.messages[0].icon, c.icon) << c.what;
    if (c.icon == MessageIcon::Warning) {
      EXPECT_EQ(boxes.messages[0].title, QStringLiteral("Error"));
    }
    EXPECT_EQ(ended, std::vector<int>{1}) << c.what;
    EXPECT_EQ(broken.calls().back(), c.lastCall) << c.what << ": nothing runs after the failure";
    EXPECT_FALSE(w->isVisible()) << c.what;
    delete w.data();
  }
}

TEST_F(MainWindowTest, FirstNetRadioTickOnTheRecordingChannelChangesNoLabel) {
  ASSERT_TRUE(make().load());
  const QString name = text("lblName"), bps = text("lblBPS"), song = text("lblSong");
  timer("Timer6")->stop();
  timer("Timer3")->stop();
  ASSERT_TRUE(test::waitUntil([&] { return !timer("tmrNetRadio")->isActive(); }, 2s));
  QCoreApplication::processEvents();
  EXPECT_EQ(text("lblName"), name);
  EXPECT_EQ(text("lblBPS"), bps);
  EXPECT_EQ(text("lblSong"), song);
  EXPECT_EQ(audio.count("ChannelPlay 7"), 1);
}

TEST_F(MainWindowTest, PlayStopPlayKeepsTheClockAndReconnects) {
  ASSERT_TRUE(make().load());
  timer("Timer5")->setInterval(1);
  window->button("btnPresents")->click();
  EXPECT_TRUE(timer("Timer5")->isActive());
  EXPECT_TRUE(timer("tmrLiveSpec")->isActive());
  settle();
  ASSERT_TRUE(test::waitUntil([&] { return window->clock().seconds() >= 3; }, 2s));
  window->button("lblStop")->click();
  EXPECT_FALSE(timer("Timer5")->isActive());
  EXPECT_FALSE(timer("tmrLiveSpec")->isActive());
  const QString stoppedAt = text("Timer");
  QTest::qWait(20);
  EXPECT_EQ(text("Timer"), stoppedAt) << "the clock stands still while stopped";

  window->button("btnPresents")->click();
  settle();
  ASSERT_TRUE(test::waitUntil([&] { return text("Timer") != stoppedAt; }, 2s));
  EXPECT_GT(window->clock().seconds() + 60 * window->clock().minutes(), 3) << "the clock goes on, not from zero";
  EXPECT_EQ(audio.count("StreamCreateURL"), 2);
  EXPECT_EQ(audio.count("Start"), 2);
  EXPECT_EQ(audio.count("Stop"), 1);
}

TEST_F(MainWindowTest, PlayWhileOpeningStartsNoSecondConnection) {
  ASSERT_TRUE(make().load());
  audio.holdOpening();
  window->button("btnPresents")->click();
  ASSERT_TRUE(test::waitUntil([&] { return audio.openingWaiting(); }, 2s));
  window->button("btnPresents")->click();
  EXPECT_EQ(audio.count("Start"), 2) << "the output is started on every Play";
  audio.release();
  settle();
  EXPECT_EQ(audio.count("StreamCreateURL"), 1);
}

TEST_F(MainWindowTest, UnreachableStationShowsNotPlayingAndOneErrorBox) {
  ASSERT_TRUE(make().load());
  timer("Timer6")->stop();
  audio.streamOpens = false;
  audio.failureCode = BASS_ERROR_FILEOPEN;
  window->button("btnPresents")->click();
  ASSERT_TRUE(test::waitUntil([&] { return radio.hOpenThread == 0; }, 5s));
  QCoreApplication::processEvents();
  EXPECT_EQ(text("lblName"), QStringLiteral("not playing"));
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("ไม่สามารถติดต่อเซิฟเวอร์เรดิโอได้\r\n"
                                                   "สาเหตุ: ติดต่อเซิฟเวอร์ไม่ได้ (เซิฟเวอร์ไม่ตอบรับหรือไม่มีอยู่)\r\n\r\nerror code: 2"));
  EXPECT_FALSE(timer("tmrNetRadio")->isActive());
  EXPECT_EQ(radio.CurrentChannel, 0u);
  // The spectrum goes on analysing handle 0, which draws black.
  ASSERT_TRUE(timer("tmrLiveSpec")->isActive());
  QTest::qWait(60);
  const auto &picture = window->spectrum().buffer();
  EXPECT_TRUE(std::all_of(picture.begin(), picture.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST_F(MainWindowTest, PushButton1StopsTheOutputOnly) {
  ASSERT_TRUE(make().load());
  window->button("btnPresents")->click();
  settle();
  window->button("PushButton1")->click();
  EXPECT_EQ(audio.count("Stop"), 1);
  EXPECT_TRUE(timer("Timer5")->isActive());
  EXPECT_TRUE(timer("tmrLiveSpec")->isActive());
}

TEST_F(MainWindowTest, VolumeReachesTheLibraryAndTheLabel) {
  ASSERT_TRUE(make().load());
  struct Case {
    int value;
    float volume;
    const char *text;
  };
  auto *sldVol = window->findChild<Slider *>(QStringLiteral("sldVol"));
  ASSERT_NE(sldVol, nullptr);
  EXPECT_EQ(sldVol->value(), 50) << "restored from its saved set";
  EXPECT_EQ(audio.count("SetVolume"), 1);
  EXPECT_FLOAT_EQ(audio.lastVolume(), 0.5f) << "the load sets the volume the label shows";
  EXPECT_EQ(text("lblVolume"), QStringLiteral("(50%)"));
  for (const Case &c : {Case{0, 0.f, "(0%)"}, Case{100, 1.f, "(100%)"}, Case{37, 0.37f, "(37%)"}}) {
    emit sldVol->Change(c.value);
    EXPECT_FLOAT_EQ(audio.lastVolume(), c.volume);
    EXPECT_EQ(text("lblVolume"), QString::fromLatin1(c.text));
  }
}

TEST_F(MainWindowTest, MarqueesRotateNameAndSong) {
  ASSERT_TRUE(make().load());
  window->setSongText(QStringLiteral("ABC"));
  window->setStationText(QStringLiteral("X"));
  timer("Timer3")->setInterval(1);
  timer("Timer6")->setInterval(1);
  ASSERT_TRUE(test::waitUntil([&] { return text("lblSong") == QStringLiteral("BCA"); }, 2s));
  QTest::qWait(10);
  EXPECT_EQ(text("lblName"), QStringLiteral("X")) << "one character stays as it is";
  window->setSongText(QString());
  QTest::qWait(10);
  EXPECT_EQ(text("lblSong"), QString());
}

// Thai vowels above and below and tone marks belong to the consonant before
// them: no frame of the marquee may start with one (it would be lost).
TEST_F(MainWindowTest, ThaiTitleMarqueeNeverStartsAFrameWithAMark) {
  ASSERT_TRUE(make().load());
  const QString title = QStringLiteral("น้ำใจ ที่นี่ ปี่กลองสุข");
  QStringList frames;
  // Connected after the window's own handler, so it sees each frame it made.
  QObject::connect(timer("Timer3"), &QTimer::timeout, window, [&] { frames << text("lblSong"); });
  window->setSongText(title);
  timer("Timer3")->setInterval(1);
  ASSERT_TRUE(test::waitUntil([&] { return frames.size() >= 14 && frames.back() == title; }, 5s));
  for (const QString &frame : frames) EXPECT_FALSE(frame.front().isMark()) << frame.toStdString();
  EXPECT_EQ(frames.indexOf(title), 13) << "a whole turn in 14 frames, one per cluster";
}

TEST_F(MainWindowTest, DraggingByTheBodyMovesTheWindowAndReleaseSwitchesTheSpectrum) {
  ASSERT_TRUE(make().load());
  window->move(100, 100);
  const QPoint start = window->pos();
  EXPECT_EQ(window->spectrum().style(), 0);
  for (Qt::MouseButton b : {Qt::RightButton, Qt::LeftButton}) {
    const QPoint before = window->pos();
    QTest::mousePress(window, b, {}, QPoint(30, 90));
    QMouseEvent move(QEvent::MouseMove, QPointF(50, 105), window->mapToGlobal(QPointF(50, 105)), Qt::NoButton, b, {});
    QCoreApplication::sendEvent(window, &move);
    EXPECT_EQ(window->pos(), before + QPoint(20, 15));
    QTest::mouseRelease(window, b, {}, QPoint(50, 105));
  }
  EXPECT_EQ(window->pos(), start + QPoint(40, 30));
  EXPECT_EQ(window->spectrum().style(), 1);
  QMouseEvent idle(QEvent::MouseMove, QPointF(80, 80), window->mapToGlobal(QPointF(80, 80)), Qt::NoButton, {}, {});
  QCoreApplication::sendEvent(window, &idle);
  EXPECT_EQ(window->pos(), start + QPoint(40, 30)) << "no drag after release";
}

TEST_F(MainWindowTest, MinimiseHidesOnlyWhenATrayIconCanRestore) {
  for (bool tray : {false, true}) {
    trayPresent = tray;
    ASSERT_TRUE(make().load());
    window->button("lblMini")->click();
    QTest::qWait(10);
    EXPECT_EQ(window->isVisible(), !tray) << "tray " << tray;
    delete window.data();
  }
}

TEST_F(MainWindowTest, UnloadWhileOpeningFreesTheLibrary) {
  ASSERT_TRUE(make().load());
  audio.holdOpening();
  window->button("btnPresents")->click();
  ASSERT_TRUE(test::waitUntil([&] { return audio.openingWaiting(); }, 2s));
  QTest::mouseClick(label("Label1"), Qt::LeftButton);
  QCoreApplication::processEvents();
  EXPECT_EQ(audio.count("Free"), 1);
  EXPECT_EQ(audio.count("RecordFree"), 1);
  audio.release();
  ASSERT_TRUE(test::waitUntil([&] { return window.isNull(); }, 2s)) << "Label1 unloads the window";
  EXPECT_EQ(exits, 0) << "Label1 does not end the player";
}

TEST_F(MainWindowTest, UnderADebuggerAnOpeningWorkerKeepsTheWindow) {
  debugger = true;
  ASSERT_TRUE(make().load());
  audio.holdOpening();
  window->button("btnPresents")->click();
  ASSERT_TRUE(test::waitUntil([&] { return audio.openingWaiting(); }, 2s));
  EXPECT_FALSE(window->close());
  EXPECT_EQ(audio.count("Free"), 0);
  EXPECT_EQ(audio.count("RecordFree"), 1);
  EXPECT_TRUE(window->isVisible());
  audio.release();
  settle();
  EXPECT_TRUE(window->close());
  EXPECT_EQ(audio.count("Free"), 1);
}

TEST_F(MainWindowTest, ExitUnloadsThenEndsThePlayerAndOtherButtonsReachTheirSeams) {
  ASSERT_TRUE(make().load());
  window->button("Request")->click();
  EXPECT_EQ(requests, 1);
  window->button("cmdUpdate")->click();
  EXPECT_EQ(launcher.urls, QStringList{QString::fromUtf8(settings::kChatUrl)});
  window->button("lblExit")->click();
  EXPECT_EQ(audio.count("Free"), 1);
  EXPECT_EQ(exits, 1);
}

TEST(PlayerShellWindows, OneMainWindowPerKindAndAFreshOneAfterUnload) {
  FakeAudioLibrary audio;
  test::ScriptedDialogs dialogs;
  RecordingLauncher launcher;
  QTemporaryDir lockDir;
  InstanceGuard guard(QStringLiteral("/test/kirasol-radio"), lockDir.path());
  PlayerShell::Options options;
  options.endProgram = [](int) {};
  options.stationUrl = QStringLiteral("http://127.0.0.1:1/");
  PlayerShell shell(audio, dialogs, launcher, guard, options);
  EXPECT_FALSE(shell.hasMainWindow());
  FrmMain *first = &shell.mainWindow();
  EXPECT_EQ(&shell.mainWindow(), first);
  shell.showMainWindow();
  shell.showMainWindow();
  EXPECT_EQ(audio.count("Init"), 1) << "showing a loaded window does not load it again";
  EXPECT_EQ(shell.netRadio().StationUrls, QStringList{"http://127.0.0.1:1/"});
  first->close();
  ASSERT_TRUE(test::waitUntil([&] { return !shell.hasMainWindow(); }, 2s));
  shell.showMainWindow();
  EXPECT_TRUE(shell.hasMainWindow());
  EXPECT_EQ(audio.count("Init"), 2);
}

TEST(PlayerShellWindows, EndingWithTheMainWindowLoadedStillFreesTheLibrary) {
  FakeAudioLibrary audio;
  test::ScriptedDialogs dialogs;
  RecordingLauncher launcher;
  QTemporaryDir lockDir;
  InstanceGuard guard(QStringLiteral("/test/kirasol-radio"), lockDir.path());
  PlayerShell::Options options;
  options.endProgram = [](int) {};
  {
    PlayerShell shell(audio, dialogs, launcher, guard, options);
    shell.showMainWindow();
    EXPECT_EQ(audio.count("Free"), 0);
  }
  EXPECT_EQ(audio.count("Free"), 1);
  EXPECT_EQ(audio.count("RecordFree"), 1);
}

TEST(PlayerShellWindows, TrayCommandsPressTheMainWindowsButtons) {
  FakeAudioLibrary audio;
  test::ScriptedDialogs dialogs;
  RecordingLauncher launcher;
  QTemporaryDir lockDir;
  InstanceGuard guard(QStringLiteral("/test/kirasol-radio"), lockDir.path());
  std::vector<int> ended;
  PlayerShell::Options options;
  options.endProgram = [](int) {};
  options.endPlayer = [&](int code) { ended.push_back(code); };
  options.relayPort = test::freePort();
  PlayerShell shell(audio, dialogs, launcher, guard, options);
  shell.showMainWindow();
  ASSERT_NE(shell.trayIcon(), nullptr) << "the load registers (or prepares) the tray icon";

  shell.pressPlay();
  shell.netRadio().waitForWorker();
  EXPECT_EQ(audio.count("StreamCreateURL"), 1);
  EXPECT_EQ(audio.urls(), std::vector<std::string>{defaultStationUrl().toStdString()});
  shell.pressStop();
  EXPECT_EQ(audio.count("Stop"), 1);

  shell.setOnTop(true);
  EXPECT_TRUE(shell.mainWindow().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(shell.mainWindow().isVisible());
  shell.setOnTop(false);
  EXPECT_FALSE(shell.mainWindow().windowFlags().testFlag(Qt::WindowStaysOnTopHint));

  shell.showRecorder();
  auto recorders = QApplication::topLevelWidgets();
  const auto isRecorder = [](QWidget *w) { return w->isVisible() && qobject_cast<recorder::frmReccord *>(w); };
  EXPECT_EQ(std::count_if(recorders.begin(), recorders.end(), isRecorder), 1);
  shell.showRecorder();
  recorders = QApplication::topLevelWidgets();
  EXPECT_EQ(std::count_if(recorders.begin(), recorders.end(), isRecorder), 1) << "one recorder window";

  shell.exitPlayer();
  EXPECT_EQ(audio.count("Free"), 1) << "the main window is unloaded first";
  EXPECT_EQ(ended, std::vector<int>{0});
}

}  // namespace
}  // namespace kirasol
