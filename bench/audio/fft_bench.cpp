// One FFT2048 as the spectrum display asks for it 40 times a second: the
// transform alone, and the whole BASS_ChannelGetData call on a playing stream.

#include "bass.h"
#include "fft2048.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

void BM_Fft2048Transform(benchmark::State &state) {
  kirasol::audio::Fft2048 fft;
  std::vector<float> samples(2048);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = float(std::sin(2 * std::numbers::pi * 1000.0 * double(i) / 44100.0));
  float bins[1024];
  for (auto _ : state) {
    fft.magnitudes(samples.data(), samples.size(), bins);
    benchmark::DoNotOptimize(bins);
  }
}
BENCHMARK(BM_Fft2048Transform);

}  // namespace

BENCHMARK_MAIN();
