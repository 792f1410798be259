// The engine against the bundled demo station: tags, the downloaded bytes,
// titles at the song change, the spectrum of each song and the end.

#include "engine_fixture.h"
#include "mp3_frame.h"

#include "support/test_support.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <vector>

namespace kirasol::audio::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Two short songs cut from the demo tracks: a 1 kHz tone and a 2.5 kHz tone.
struct ShortTracks {
  QTemporaryDir dir;
  QByteArray first, second;
  bool ok = false;
  ShortTracks() {
    const QDir demo(kirasol::test::programDir() + QStringLiteral("/demo"));
    first = kirasol::test::readFile(demo.filePath(QStringLiteral("track2.mp3"))).left(40000);
    second = kirasol::test::readFile(demo.filePath(QStringLiteral("track3.mp3"))).left(40000);
    ok = first.size() == 40000 && second.size() == 40000 &&
         kirasol::test::writeFile(dir.path() + QStringLiteral("/a.mp3"), first) &&
         kirasol::test::writeFile(dir.path() + QStringLiteral("/b.mp3"), second) &&
         kirasol::test::writeFile(dir.path() + QStringLiteral("/tracks.txt"), "a.mp3|One|1000\nb.mp3|Two|2500\n");
  }
  // Seconds of audio in `bytes` of the first track (CBR).
  double seconds(size_t bytes) const {
    const auto info = parseMp3Header(reinterpret_cast<const uint8_t *>(first.constData()));
    return info ? double(bytes) * 8.0 / (info->bitrateKbps * 1000.0) : 0.0;
  }
};

int peakBin(DWORD h) {
  float bins[1024];
  BASS_ChannelGetData(h, bins, BASS_DATA_FFT2048);
  return int(std::max_element(bins + 1, bins + 1024) - bins);
}

struct StationLog {
  std::mutex mutex;
  std::string data;
  int status = 0, ends = 0;
  Clock::time_point started;
  std::vector<std::pair<double, std::string>> titles;
  std::vector<int> peaksAtTitle;
  std::atomic<int> endSyncs{0};

  static void download(const void *buffer, DWORD length, void *user) {
    auto *log = static_cast<StationLog *>(user);
    std::lock_guard lock(log->mutex);
    if (!buffer)
      ++log->ends;
    else if (length == 0)
      ++log->status;
    else
      log->data.append(static_cast<const char *>(buffer), length);
  }
  static void meta(HSYNC, DWORD channel, DWORD, void *user) {
    auto *log = static_cast<StationLog *>(user);
    const char *tag = BASS_ChannelGetTags(channel, BASS_TAG_META);
    const int peak = peakBin(channel);
    std::lock_guard lock(log->mutex);
    log->peaksAtTitle.push_back(peak);
    log->titles.emplace_back(std::chrono::duration<double>(Clock::now() - log->started).count(), tag ? tag : "");
  }
  static void end(HSYNC, DWORD, DWORD, void *user) { ++static_cast<StationLog *>(user)->endSyncs; }
};

TEST_F(EngineTest, DemoStationPlaysBothSongsWithTitlesAtTheChange) {
  ShortTracks tracks;
  ASSERT_TRUE(tracks.ok) << "demo tracks missing in " << kirasol::test::programDir().toStdString();
  kirasol::test::DemoStation station({"--tracks", tracks.dir.path(), "--metaint", "4000", "--fast", "--once"});
  ASSERT_TRUE(station.started()) << station.errorText().toStdString();

  StationLog log;
  const HSTREAM h = BASS_StreamCreateURL(station.streamUrl().toUtf8().constData(), 0,
                                         BASS_STREAM_BLOCK | BASS_STREAM_STATUS | BASS_STREAM_AUTOFREE,
                                         &StationLog::download, &log);
  ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
  const char *icy = BASS_ChannelGetTags(h, BASS_TAG_ICY);
  ASSERT_NE(icy, nullptr);
  EXPECT_STREQ(icy, "ICY 200 OK");
  BASS_ChannelSetSync(h, BASS_SYNC_META, 0, &StationLog::meta, &log);
  BASS_ChannelSetSync(h, BASS_SYNC_END, 0, &StationLog::end, &log);
  // Start as the player does, with a well-filled buffer.
  const QWORD end = BASS_StreamGetFilePosition(h, BASS_FILEPOS_END);
  ASSERT_TRUE(eventually([&] { return BASS_StreamGetFilePosition(h, BASS_FILEPOS_BUFFER) * 2 > end; }, 5s));
  log.started = Clock::now();
  ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));

  std::this_thread::sleep_for(std::chrono::duration<double>(tracks.seconds(20000)));
  EXPECT_EQ(peakBin(h), int(std::lround(1000 * 2048 / 44100.0)));
  std::this_thread::sleep_for(std::chrono::duration<double>(tracks.seconds(40000)));
  EXPECT_EQ(peakBin(h), int(std::lround(2500 * 2048 / 44100.0)));
  ASSERT_TRUE(eventually([&] { return log.endSyncs.load() == 1; }, 10s));

  std::lock_guard lock(log.mutex);
  EXPECT_EQ(log.status, 1);
  EXPECT_EQ(log.ends, 1);
  EXPECT_TRUE(log.data == (tracks.first + tracks.second).toStdString()) << "downloaded " << log.data.size() << " bytes";
  ASSERT_EQ(log.titles.size(), 2u);
  EXPECT_EQ(log.titles[0].second, "StreamTitle='One';StreamUrl='';");
  EXPECT_EQ(log.titles[1].second, "StreamTitle='Two';StreamUrl='';");
  // The first title is in the first block (after 4000 bytes); the second
  // becomes current with the first audio of song two.
  EXPECT_NEAR(log.titles[0].first, tracks.seconds(4000), 0.15);
  EXPECT_NEAR(log.titles[1].first, tracks.seconds(40000), 0.15);
  // When the second title arrives, what was just heard is still song one.
  EXPECT_EQ(log.peaksAtTitle[1], int(std::lround(1000 * 2048 / 44100.0)));
  EXPECT_FALSE(BASS_StreamFree(h));  // AUTOFREE at the end
}

TEST_F(EngineTest, DemoStationInIcecastStyleGivesAnHttpTag) {
  kirasol::test::DemoStation station({"--http10"});
  ASSERT_TRUE(station.started()) << station.errorText().toStdString();
  const HSTREAM h = BASS_StreamCreateURL(station.streamUrl().toUtf8().constData(), 0, 0, nullptr, nullptr);
  ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
  EXPECT_EQ(BASS_ChannelGetTags(h, BASS_TAG_ICY), nullptr);
  const char *http = BASS_ChannelGetTags(h, BASS_TAG_HTTP);
  ASSERT_NE(http, nullptr);
  EXPECT_STREQ(http, "HTTP/1.0 200 OK");
  EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_END), 128u * 5000 / 8);
  BASS_StreamFree(h);
}

}  // namespace
}  // namespace kirasol::audio::test
