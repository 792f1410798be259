#include "player/playback/net_radio.h"

#include "playback/fake_audio_library.h"
#include "playback/recording_view.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <thread>
#include <utility>

namespace kirasol {
namespace {

using namespace std::chrono_literals;
using test::FakeAudioLibrary;
using test::RecordingView;
using test::ScriptedDialogs;

// Pauses between reconnection attempts pass when the test says so.
struct FakeRetryTimer final : RetryTimer {
  std::vector<std::chrono::milliseconds> pauses;  // every start, in order
  std::function<void()> due;
  void start(std::chrono::milliseconds delay, std::function<void()> call) override {
    pauses.push_back(delay);
    due = std::move(call);
  }
  void cancel() override { due = nullptr; }
  bool fire() {
    if (!due) return false;
    std::exchange(due, nullptr)();
    return true;
  }
};

struct NetRadioTest : ::testing::Test {
  FakeAudioLibrary audio;
  ScriptedDialogs dialogs;
  RecordingView view;
  FakeRetryTimer *retry = new FakeRetryTimer;
  NetRadio radio{audio, dialogs, nullptr, std::unique_ptr<RetryTimer>(retry)};

  NetRadioTest() {
    radio.setView(&view);
    radio.StationUrls = {QStringLiteral("http://127.0.0.1:8620")};
    radio.CurrentChannel = audio.recordHandle;
  }
  void openAndSettle() {
    ASSERT_TRUE(radio.startOpenStation(0));
    radio.waitForWorker();
    QCoreApplication::processEvents();
  }
  void tick() {
    radio.netRadioTick();
    QCoreApplication::processEvents();
  }
  void settle() {  // a failed open waits for the UI thread
    ASSERT_TRUE(test::waitUntil([&] { return radio.hOpenThread == 0; }, 5s));
    QCoreApplication::processEvents();
  }
  void playTheOpenedStream() {
    const DWORD h = radio.CurrentChannel;
    audio.setTag(h, BASS_TAG_ICY, FakeAudioLibrary::headerBlock({"ICY 200 OK", "icy-name:My Station"}));
    audio.setTag(h, BASS_TAG_META, "StreamTitle='Artist - Song';");
    audio.setPositions(h, {100, 100, 1});
    tick();
  }
  void endTheStream() {  // from a library thread
    std::thread([&] { audio.fireSync(radio.CurrentChannel, BASS_SYNC_END); }).join();
    QCoreApplication::processEvents();
  }
};

TEST_F(NetRadioTest, OpeningShowsConnectingThenStatusThenEnablesTheTimer) {
  view.netRadioTimer = false;
  openAndSettle();
  EXPECT_EQ(view.history, (QStringList{"timer:off", "name:connecting...", "bps:", "song:", "bps:ICY 200 OK",
                                       "timer:on"}));
  EXPECT_EQ(radio.CurrentChannel, audio.lastStream());
  EXPECT_EQ(radio.hOpenThread, 0u);
  EXPECT_EQ(audio.urls(), std::vector<std::string>{"http://127.0.0.1:8620"});
  EXPECT_EQ(audio.streamFlags(), 0x940000u);
  EXPECT_EQ(audio.count("StreamFree 7"), 1) << "the start-up recording channel is freed first";
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(NetRadioTest, PlayWhilePlayingFreesTheOldStreamAndReconnects) {
  openAndSettle();
  const DWORD first = radio.CurrentChannel;
  openAndSettle();
  EXPECT_EQ(audio.count("StreamFree " + std::to_string(first)), 1);
  EXPECT_NE(radio.CurrentChannel, first);
  EXPECT_EQ(audio.count("StreamCreateURL"), 2);
}

TEST_F(NetRadioTest, UnreachableStationShowsNotPlayingAndOneBoxWhileTheWorkerWaits) {
  audio.streamOpens = false;
  audio.failureCode = BASS_ERROR_FILEOPEN;
  struct WatchingDialogs : Dialogs {
    NetRadio *radio = nullptr;
    std::vector<MessageRequest> boxes;
    std::vector<DWORD> workerDuringBox;
    MessageAnswer message(QWidget *, const MessageRequest &r) override {
      boxes.push_back(r);
      workerDuringBox.push_back(radio->hOpenThread);
      return MessageAnswer::Ok;
    }
    std::optional<QString> input(QWidget *, const QString &, const QString &, const QString &) override {
      return std::nullopt;
    }
  } watching;
  NetRadio failing(audio, watching);
  watching.radio = &failing;
  failing.setView(&view);
  failing.StationUrls = radio.StationUrls;
  view.netRadioTimer = false;

  ASSERT_TRUE(failing.startOpenStation(0));
  ASSERT_TRUE(test::waitUntil([&] { return failing.hOpenThread == 0; }, 5s));
  QCoreApplication::processEvents();

  EXPECT_EQ(view.station, QStringLiteral("not playing"));
  EXPECT_FALSE(view.netRadioTimer);
  EXPECT_EQ(failing.CurrentChannel, 0u);
  ASSERT_EQ(watching.boxes.size(), 1u);
  EXPECT_EQ(watching.boxes[0].text, QStringLiteral("ไม่สามารถติดต่อเซิฟเวอร์เรดิโอได้\r\n"
                                                   "สาเหตุ: ติดต่อเซิฟเวอร์ไม่ได้ (เซิฟเวอร์ไม่ตอบรับหรือไม่มีอยู่)\r\n\r\nerror code: 2"));
  EXPECT_EQ(watching.boxes[0].title, QStringLiteral("Error"));
  EXPECT_EQ(watching.boxes[0].icon, MessageIcon::Warning);
  EXPECT_NE(watching.workerDuringBox[0], 0u) << "the worker must still be waiting while the box is open";
}

TEST_F(NetRadioTest, SecondPlayWhileOpeningStartsNoSecondWorker) {
  audio.holdOpening();
  ASSERT_TRUE(radio.startOpenStation(0));
  ASSERT_TRUE(test::waitUntil([&] { return audio.openingWaiting(); }, 5s));
  EXPECT_FALSE(radio.startOpenStation(0));
  audio.release();
  radio.waitForWorker();
  EXPECT_EQ(audio.count("StreamCreateURL"), 1);
  EXPECT_TRUE(radio.startOpenStation(0)) << "a finished worker no longer blocks Play";
  radio.waitForWorker();
}

TEST_F(NetRadioTest, FirstTickOnTheRecordingChannelChangesNoLabelAndStops) {
  tick();
  EXPECT_EQ(view.history, QStringList{"timer:off"});
  EXPECT_EQ(audio.count("ChannelPlay 7"), 1);
  EXPECT_EQ(audio.count("ChannelSetSync 7 4 0"), 1);
  EXPECT_EQ(audio.count("ChannelSetSync 7 2 0"), 1);
}

TEST_F(NetRadioTest, BufferingUpTo75PercentThenStartsWithHeadersAndTitle) {
  openAndSettle();
  const DWORD h = radio.CurrentChannel;
  audio.setTag(h, BASS_TAG_ICY, FakeAudioLibrary::headerBlock({"ICY 200 OK", "icy-name:My Station", "icy-br:128"}));
  audio.setTag(h, BASS_TAG_META, "StreamTitle='Artist - Song';StreamUrl='';");
  view.history.clear();

  audio.setPositions(h, {80000, 33600, 1});
  tick();
  EXPECT_EQ(view.station, QStringLiteral("buffering... 42%"));
  audio.setPositions(h, {80000, 60000, 1});
  tick();
  EXPECT_EQ(view.station, QStringLiteral("buffering... 75%"));
  EXPECT_EQ(audio.count("ChannelPlay " + std::to_string(h)), 0);

  audio.setPositions(h, {80000, 60800, 1});  // 76 %
  tick();
  EXPECT_EQ(view.history, (QStringList{"name:buffering... 42%", "name:buffering... 75%", "timer:off",
                                       "name:My Station", "bps:bitrate: 128", "song:Artist - Song"}));
  const auto calls = audio.calls();
  const auto sync = std::find(calls.begin(), calls.end(), "ChannelSetSync " + std::to_string(h) + " 4 0");
  ASSERT_NE(sync, calls.end());
  EXPECT_EQ(*(sync + 1), "ChannelSetSync " + std::to_string(h) + " 2 0");
  EXPECT_EQ(*(sync + 2), "ChannelPlay " + std::to_string(h));
}

TEST_F(NetRadioTest, LostConnectionStartsWithWhatIsBufferedAndHttpHeadersServe) {
  openAndSettle();
  const DWORD h = radio.CurrentChannel;
  audio.setTag(h, BASS_TAG_HTTP, FakeAudioLibrary::headerBlock({"HTTP/1.0 200 OK", "icy-name:Icecast One"}));
  audio.setPositions(h, {80000, 800, 0});
  tick();
  EXPECT_EQ(view.station, QStringLiteral("Icecast One"));
  EXPECT_EQ(view.bitRate, QString()) << "no icy-br: no bit rate, not the status text";
  EXPECT_EQ(view.song, QString()) << "no metadata yet keeps the cleared title";
  EXPECT_EQ(audio.count("ChannelPlay " + std::to_string(h)), 1);
}

TEST_F(NetRadioTest, LiveStreamWithoutBufferSizeKeepsBuffering) {
  openAndSettle();
  audio.setPositions(radio.CurrentChannel, {0, 5000, 1});
  tick();
  EXPECT_EQ(view.station, QStringLiteral("buffering... 0%"));
  EXPECT_TRUE(view.netRadioTimer);
}

TEST_F(NetRadioTest, SyncsFromLibraryThreadsReachTheLabelsInOrder) {
  openAndSettle();
  const DWORD h = radio.CurrentChannel;
  audio.setPositions(h, {100, 100, 1});
  tick();

  std::thread library([&] {
    for (int i = 0; i < 50; ++i) {
      audio.setTag(h, BASS_TAG_META, "StreamTitle='Song " + std::to_string(i) + "';");
      audio.fireSync(h, BASS_SYNC_META);
    }
  });
  library.join();
  ASSERT_TRUE(test::waitUntil([&] { return view.song == QStringLiteral("Song 49"); }, 5s));
  QStringList songs = view.history.filter(QStringLiteral("song:Song "));
  EXPECT_EQ(songs.size(), 50);
  for (int i = 0; i < songs.size(); ++i) EXPECT_EQ(songs[i], QStringLiteral("song:Song %1").arg(i));

  std::thread([&] { audio.fireSync(h, BASS_SYNC_END); }).join();
  ASSERT_TRUE(test::waitUntil([&] { return view.station == QStringLiteral("reconnecting... (1)"); }, 5s));
  EXPECT_EQ(view.song, QStringLiteral("Song 49")) << "the window keeps its state while reconnecting";
}

TEST_F(NetRadioTest, AStationThatEndsByItselfIsReopenedWithGrowingPausesUntilStop) {
  openAndSettle();
  playTheOpenedStream();
  endTheStream();
  EXPECT_EQ(view.station, QStringLiteral("reconnecting... (1)"));
  EXPECT_EQ(view.song, QStringLiteral("Artist - Song"));

  view.history.clear();
  audio.streamOpens = false;
  for (int attempt = 1; attempt <= 6; ++attempt) {
    ASSERT_TRUE(retry->fire());
    settle();
    EXPECT_EQ(view.station, QStringLiteral("reconnecting... (%1)").arg(attempt + 1));
  }
  using std::chrono::seconds;
  EXPECT_EQ(retry->pauses, (std::vector<std::chrono::milliseconds>{seconds(1), seconds(2), seconds(4), seconds(8),
                                                                    seconds(15), seconds(30), seconds(30)}));
  EXPECT_TRUE(dialogs.messages.empty()) << "failed attempts show no box";
  EXPECT_FALSE(view.history.contains(QStringLiteral("name:connecting...")));

  // Attempt 7 reaches the station again: it plays and the count starts over.
  audio.streamOpens = true;
  ASSERT_TRUE(retry->fire());
  settle();
  EXPECT_EQ(view.station, QStringLiteral("reconnecting... (7)")) << "kept while connecting";
  playTheOpenedStream();
  EXPECT_EQ(view.station, QStringLiteral("My Station"));
  endTheStream();
  EXPECT_EQ(view.station, QStringLiteral("reconnecting... (1)"));
  EXPECT_EQ(retry->pauses.back(), seconds(1));

  // Stop while connecting: the stream that arrives afterwards is dropped.
  audio.holdOpening();
  ASSERT_TRUE(radio.startOpenStation(0));
  ASSERT_TRUE(test::waitUntil([&] { return audio.openingWaiting(); }, 5s));
  radio.stopStation();
  audio.release();
  settle();
  EXPECT_EQ(audio.count("StreamFree " + std::to_string(audio.lastStream())), 1);
  EXPECT_FALSE(view.netRadioTimer);
}

TEST_F(NetRadioTest, CpuTickShowsTwoDecimals) {
  audio.cpu = 3.14159f;
  radio.bass2Tick();
  QCoreApplication::processEvents();
  EXPECT_EQ(view.cpu, QStringLiteral("3.14"));
}

TEST_F(NetRadioTest, DetachedViewReceivesNothing) {
  radio.setView(nullptr);
  openAndSettle();
  EXPECT_TRUE(view.history.isEmpty());
}

}  // namespace
}  // namespace kirasol
