// The spectrum on the real audio engine: the demo station's first track is
// built around a 440 Hz tone, which a 2048-point FFT at 44.1 kHz puts in bins
// 20 and 21, i.e. band 12 (bins 18 to 22).
#include "player/spectrum/bass_fft_fetcher.h"
#include "player/spectrum/live_spectrum.h"
#include "support/test_support.h"

#include <bass.h>

#include <QThread>
#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>

namespace kirasol::spectrum {
namespace {

int bandHeight(const SpectrumBuffer &b, int band) {
  int h = 0;
  while (h < kHeight && b[h * kWidth + 4 * band] != 0) ++h;
  return h;
}

class SpectrumOnEngine : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode(); }
  void TearDown() override { BASS_Free(); }
};

TEST_F(SpectrumOnEngine, BandsShowTheTracksToneAndAFreedChannelDrawsBlack) {
  test::DemoStation station;
  ASSERT_TRUE(station.started()) << station.errorText().toStdString();
  std::atomic<std::uint32_t> CurrentChannel{0};
  LiveSpectrum spec(bassFftFetcher([&] { return CurrentChannel.load(); }));

  spec.tick();  // before any stream: nothing to analyse, black
  for (std::uint8_t v : spec.buffer()) ASSERT_EQ(v, 0);

  const QByteArray url = station.streamUrl().toUtf8();
  const HSTREAM stream = BASS_StreamCreateURL(url.constData(), 0, 0, nullptr, nullptr);
  ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
  CurrentChannel = stream;
  ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE)) << BASS_ErrorGetCode();

  // Count, over a second of 25 ms ticks, which band stands tallest.
  std::array<int, kBands> tallest{};
  int ticksWithBars = 0;
  for (int tick = 0; tick < 40; ++tick) {
    QThread::msleep(25);
    spec.tick();
    std::array<int, kBands> h{};
    for (int x = 0; x < kBands; ++x) h[x] = bandHeight(spec.buffer(), x);
    const int top = int(std::max_element(h.begin(), h.end()) - h.begin());
    if (h[top] > 0) {
      ++ticksWithBars;
      ++tallest[top];
    }
  }
  EXPECT_GT(ticksWithBars, 20);
  EXPECT_GT(tallest[12], ticksWithBars * 3 / 4) << "band 12 should lead while the 440 Hz track plays";

  BASS_StreamFree(stream);  // a stale handle is what CurrentChannel holds after a failed reconnect
  spec.tick();
  for (std::uint8_t v : spec.buffer()) ASSERT_EQ(v, 0);
  CurrentChannel = 0;
  spec.tick();
  for (std::uint8_t v : spec.buffer()) ASSERT_EQ(v, 0);
}

}  // namespace
}  // namespace kirasol::spectrum
