// The engine on a real sound server: output into a PulseAudio null sink on
// the server that scripts/test starts, and capture from its monitor. Without
// that server these tests are skipped.

#include "engine_fixture.h"
#include "fft2048.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kirasol::audio::test {
namespace {

using namespace std::chrono_literals;

// A null sink of this test's own, made the default output and input of this
// process: tests elsewhere in the suite that play or listen at the same time
// on the server's shared sink neither hear these nor are heard here.
class PrivateSink {
 public:
  PrivateSink() {
    const std::string name = "kirasol_engine_test_" + std::to_string(getpid());
    if (FILE *out = popen(("pactl load-module module-null-sink sink_name=" + name + " 2>/dev/null").c_str(), "r")) {
      char line[64] = {};
      if (fgets(line, sizeof line, out)) module_ = std::atoi(line);
      pclose(out);
    }
    if (module_ < 0) return;
    setenv("PULSE_SINK", name.c_str(), 1);
    setenv("PULSE_SOURCE", (name + ".monitor").c_str(), 1);
  }
  ~PrivateSink() {
    if (module_ < 0) return;
    unsetenv("PULSE_SINK");
    unsetenv("PULSE_SOURCE");
    std::system(("pactl unload-module " + std::to_string(module_) + " 2>/dev/null").c_str());
  }
  bool ok() const { return module_ >= 0; }

 private:
  int module_ = -1;
};

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("PULSE_RUNTIME_PATH")) GTEST_SKIP() << "needs the sound server that scripts/test starts";
    sink_.emplace();
    ASSERT_TRUE(sink_->ok()) << "pactl could not make a null sink";
    ASSERT_TRUE(BASS_RecordInit(-1)) << BASS_ErrorGetCode();
  }
  void TearDown() override {
    BASS_RecordFree();
    BASS_Free();
    sink_.reset();
  }

 private:
  std::optional<PrivateSink> sink_;
};

struct Capture {
  std::mutex mutex;
  std::vector<int16_t> samples;
  std::atomic<int> calls{0};
  std::atomic<int> stopAfter{1 << 30};

  static BOOL proc(HRECORD, const void *buffer, DWORD length, void *user) {
    auto *c = static_cast<Capture *>(user);
    const auto *p = static_cast<const int16_t *>(buffer);
    {
      std::lock_guard lock(c->mutex);
      c->samples.insert(c->samples.end(), p, p + length / 2);
    }
    return ++c->calls < c->stopAfter ? TRUE : FALSE;
  }

  // Spectrum of the newest 2048 captured samples.
  std::vector<float> spectrum() {
    std::vector<float> mono(2048), bins(1024);
    std::lock_guard lock(mutex);
    if (samples.size() < 2048) return bins;
    for (size_t i = 0; i < 2048; ++i) mono[i] = float(samples[samples.size() - 2048 + i]) / 32768.0f;
    Fft2048().magnitudes(mono.data(), mono.size(), bins.data());
    return bins;
  }
};

TEST_F(DeviceTest, PlayedStationIsHeardOnTheSinkMonitorAndVolumeApplies) {
  ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
  BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
  std::string audio;
  for (int i = 0; i < 3; ++i) audio += readFixture("tone1k.mp3");
  TestServer server(icyServer(audio, 8192));
  Capture capture;
  const HRECORD rec = BASS_RecordStart(44100, 1, 0, &Capture::proc, &capture);
  ASSERT_NE(rec, 0u) << BASS_ErrorGetCode();
  const HSTREAM h = BASS_StreamCreateURL(server.url().c_str(), 0, 0, nullptr, nullptr);
  ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
  ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
  // The null sink's monitor starts delivering only after a second or two.
  const int tone = 46;  // round(1000 * 2048 / 44100)
  std::vector<float> bins;
  ASSERT_TRUE(eventually(
      [&] {
        bins = capture.spectrum();
        return int(std::max_element(bins.begin() + 1, bins.end()) - bins.begin()) == tone && bins[tone] > 0.1f;
      },
      6s))
      << "tone not captured; level " << bins[tone];
  float recordingBins[1024];
  EXPECT_EQ(BASS_ChannelGetData(rec, recordingBins, BASS_DATA_FFT2048), 2048u * 2);
  EXPECT_GT(recordingBins[tone], 0.1f);

  ASSERT_TRUE(BASS_SetVolume(0.0f));
  EXPECT_TRUE(eventually([&] { return capture.spectrum()[tone] < 0.01f; }, 3s)) << "master volume 0 still audible";
  BASS_StreamFree(h);
}

// A station that falters after its first 2.5 s: it trickles at an eighth of
// the playing rate for 5 s (the engine's socket passes it on in pieces of
// 4000 bytes, a quarter second of audio), pauses, and then sends 4 s at once
// (the buffer refills past 75 %); or it stays silent with the connection open
// until the engine's read timeout ends the download. The listener must hear no
// fragments of the trickle: one gap, then the rest of the audio or the end.
struct StallCase {
  const char *name;
  bool refill;
  DWORD readTimeoutMs;
  double firstSeconds;  // of tone before the gap
};

class StallTest : public DeviceTest, public ::testing::WithParamInterface<StallCase> {};

// Lengths of the stretches of tone in mono 16-bit samples at 44.1 kHz, in
// 10 ms blocks; silences shorter than 50 ms do not split a stretch, and blips
// shorter than 50 ms (the output starting) do not count.
std::vector<int> toneStretches(const std::vector<int16_t> &samples) {
  std::vector<int> stretches;
  int quiet = 1 << 20;
  for (size_t at = 0; at + 441 <= samples.size(); at += 441) {
    double energy = 0;
    for (size_t i = at; i < at + 441; ++i) energy += double(samples[i]) * samples[i];
    if (std::sqrt(energy / 441) / 32768.0 > 0.02) {
      if (quiet >= 5) stretches.push_back(0);
      ++stretches.back();
      quiet = 0;
    } else {
      ++quiet;
    }
  }
  std::erase_if(stretches, [](int blocks) { return blocks < 5; });
  return stretches;
}

TEST_P(StallTest, UnderrunStallsWithoutFragmentsUntilRefilledOrEnded) {
  ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
  BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
  BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 5000);
  BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, GetParam().readTimeoutMs);
  const std::string audio = readFixture("tone1k.mp3") + readFixture("tone1k.mp3");  // 8 s at 16000 B/s
  const bool refill = GetParam().refill;
  TestServer server([&](Connection &c) {
    if (c.readRequest().empty() || !c.send("ICY 200 OK\r\nicy-br:128\r\n\r\n")) return;
    if (!c.send(audio.substr(0, 40000))) return;
    if (!refill) return c.holdOpen();
    if (!c.sendPaced(audio.substr(40000, 10000), 2000, 500)) return;
    for (int i = 0; i < 100 && !c.stopping(); ++i) std::this_thread::sleep_for(10ms);
    if (!c.send(audio.substr(50000, 64000))) return;
    for (int i = 0; i < 50 && !c.stopping(); ++i) std::this_thread::sleep_for(10ms);
  });
  Capture capture;
  struct FreeRecordingFirst {
    ~FreeRecordingFirst() { BASS_RecordFree(); }  // before `capture` goes, whatever failed
  } freeRecordingFirst;
  ASSERT_NE(BASS_RecordStart(44100, 1, 0, &Capture::proc, &capture), 0u) << BASS_ErrorGetCode();
  ASSERT_TRUE(eventually([&] { return capture.calls.load() > 0; }, 6s));  // the monitor's start-up delay

  const HSTREAM h = BASS_StreamCreateURL(server.url().c_str(), 0, 0, nullptr, nullptr);
  ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
  EndLog ends;
  BASS_ChannelSetSync(h, BASS_SYNC_END, 0, &EndLog::proc, &ends);
  EXPECT_EQ(BASS_ChannelIsActive(h), DWORD(BASS_ACTIVE_STOPPED));
  ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
  std::vector<DWORD> states;  // each change, in order
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  while (ends.ends.load() == 0 && std::chrono::steady_clock::now() < deadline) {
    const DWORD state = BASS_ChannelIsActive(h);
    if (states.empty() || states.back() != state) states.push_back(state);
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(ends.ends.load(), 1) << "the end was never heard";
  EXPECT_EQ(BASS_ChannelIsActive(h), DWORD(BASS_ACTIVE_STOPPED));
  EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_CONNECTED), 0u);
  std::this_thread::sleep_for(300ms);

  // Playing (possibly after a first stalled moment waiting for audio), one
  // stall, then playing again only when the buffer was refilled.
  while (!states.empty() && states.front() == BASS_ACTIVE_STALLED) states.erase(states.begin());
  if (!states.empty() && states.back() == BASS_ACTIVE_STOPPED) states.pop_back();  // ended just before its sync
  std::vector<DWORD> expected = {BASS_ACTIVE_PLAYING, BASS_ACTIVE_STALLED};
  if (refill) expected.push_back(BASS_ACTIVE_PLAYING);
  EXPECT_EQ(states, expected);
  std::vector<int> stretches;
  int peak = 0, step = 0;  // largest sample, largest jump between neighbours
  {
    std::lock_guard lock(capture.mutex);
    stretches = toneStretches(capture.samples);
    const auto &s = capture.samples;
    // The fixture's tone itself starts abruptly; its onset is not ours.
    size_t from = 0;
    while (from < s.size() && std::abs(int(s[from])) < 1000) ++from;
    for (size_t i = from + 882; i < s.size(); ++i) {
      peak = std::max(peak, std::abs(int(s[i])));
      step = std::max(step, std::abs(int(s[i]) - int(s[i - 1])));
    }
  }
  // No click where the sound stops or comes back: neighbouring samples of a
  // 1 kHz tone differ by at most 2 pi 1000 / 44100, 14 % of its peak; a cut
  // in the middle of a wave jumps by up to the whole peak.
  EXPECT_LT(step, peak * 3 / 10) << "a jump of " << step << " against a peak of " << peak;
  std::string lengths;
  for (const int n : stretches) lengths += " " + std::to_string(n * 10) + " ms";
  ASSERT_EQ(stretches.size(), refill ? 2u : 1u) << "fragments were played during the underrun:" << lengths;
  EXPECT_NEAR(stretches[0] / 100.0, GetParam().firstSeconds, 0.3);
  if (refill) {
    EXPECT_NEAR(stretches[1] / 100.0, 4.0 + 0.375, 0.3);  // all that came after
  }
  BASS_StreamFree(h);
}

INSTANTIATE_TEST_SUITE_P(Underrun, StallTest,
                         // 2.5 s sent at once, and with the trickle, 4000 bytes of it
                         // that the socket gathers before waking the engine.
                         ::testing::Values(StallCase{"RefilledPastThreeQuarters", true, 0, 2.75},
                                           StallCase{"SilentUntilReadTimeout", false, 4000, 2.5}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(DeviceTest, RecordingCallsAboutTenTimesASecondUntilToldToStop) {
  Capture capture;
  const HRECORD rec = BASS_RecordStart(44100, 1, 0, &Capture::proc, &capture);
  ASSERT_NE(rec, 0u) << BASS_ErrorGetCode();
  ASSERT_TRUE(eventually([&] { return capture.calls.load() > 0; }, 6s));  // the monitor's start-up delay
  std::this_thread::sleep_for(300ms);
  const int before = capture.calls.load();
  size_t samplesBefore = 0;
  {
    std::lock_guard lock(capture.mutex);
    samplesBefore = capture.samples.size();
  }
  std::this_thread::sleep_for(1000ms);
  const int perSecond = capture.calls.load() - before;
  EXPECT_GE(perSecond, 8);
  EXPECT_LE(perSecond, 12);
  {
    std::lock_guard lock(capture.mutex);
    // About a second of mono 16-bit audio arrived in those calls.
    EXPECT_NEAR(double(capture.samples.size() - samplesBefore), 44100.0, 8000.0);
  }
  const int last = capture.calls.load() + 3;
  capture.stopAfter = last;
  ASSERT_TRUE(eventually([&] { return capture.calls.load() >= last; }, 2s));
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(capture.calls.load(), last) << "callbacks went on after FALSE";
  capture.stopAfter = 1 << 30;
  EXPECT_TRUE(BASS_ChannelPlay(rec, FALSE));  // resumes
  EXPECT_TRUE(eventually([&] { return capture.calls.load() > last + 1; }, 3s));
}

TEST_F(DeviceTest, RecordingLifecycleAndErrors) {
  EXPECT_FALSE(BASS_RecordInit(-1));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
  Capture capture;
  const HRECORD paused = BASS_RecordStart(44100, 1, BASS_RECORD_PAUSE, &Capture::proc, &capture);
  ASSERT_NE(paused, 0u);
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(capture.calls.load(), 0);
  EXPECT_EQ(BASS_RecordStart(44100, 1, 0, &Capture::proc, &capture), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
  // The recording is no file and has no tags or syncs.
  EXPECT_EQ(BASS_StreamGetFilePosition(paused, BASS_FILEPOS_END), QWORD(-1));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTFILE);
  EXPECT_EQ(BASS_ChannelGetTags(paused, BASS_TAG_META), nullptr);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
  // The player frees its start-up recording channel with BASS_StreamFree.
  EXPECT_TRUE(BASS_StreamFree(paused));
  EXPECT_FALSE(BASS_ChannelPlay(paused, FALSE));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
  const HRECORD again = BASS_RecordStart(44100, 1, 0, nullptr, nullptr);
  ASSERT_NE(again, 0u);
  EXPECT_GT(again, paused);
  ASSERT_TRUE(eventually(
      [&] {
        float bins[1024];
        return BASS_ChannelGetData(again, bins, BASS_DATA_FFT2048) == 2048u * 2;
      },
      6s));
  EXPECT_TRUE(BASS_RecordFree());
  EXPECT_FALSE(BASS_RecordFree());
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
  EXPECT_EQ(BASS_RecordStart(44100, 1, 0, nullptr, nullptr), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
  ASSERT_TRUE(BASS_RecordInit(-1));  // for TearDown
}

TEST_F(DeviceTest, RecordingFreedFromItsOwnCallback) {
  struct SelfFree {
    std::atomic<int> calls{0};
    std::atomic<bool> freed{false};
    static BOOL proc(HRECORD handle, const void *, DWORD, void *user) {
      auto *self = static_cast<SelfFree *>(user);
      if (++self->calls == 3) self->freed = BASS_StreamFree(handle) == TRUE;
      return TRUE;
    }
  } self;
  const HRECORD rec = BASS_RecordStart(44100, 1, 0, &SelfFree::proc, &self);
  ASSERT_NE(rec, 0u);
  ASSERT_TRUE(eventually([&] { return self.freed.load(); }, 6s));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(self.calls.load(), 3);
  EXPECT_FALSE(BASS_StreamFree(rec));
}

}  // namespace
}  // namespace kirasol::audio::test
