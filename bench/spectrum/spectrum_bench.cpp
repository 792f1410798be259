// UpdateSpectrum's work per 25 ms tick (target: at most 50 us): zero the
// analysis array, take the magnitudes, compute the picture and refresh the
// image that paintEvent copies. The FFT itself belongs to the engine and is
// replaced here by a copy of prepared magnitudes.
#include "player/spectrum/live_spectrum.h"

#include <benchmark/benchmark.h>
#include <random>

namespace {

using namespace kirasol::spectrum;

std::array<float, kFftBins> musicLikeMagnitudes() {
  std::array<float, kFftBins> m{};
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> noise(0.0f, 1.0f);
  for (int i = 0; i < kFftBins; ++i) m[i] = noise(rng) * 0.2f / float(1 + i / 8);
  return m;
}

void runTicks(benchmark::State &state, std::int16_t style) {
  const auto source = musicLikeMagnitudes();
  LiveSpectrum spec([&](std::span<float, kFftBins> out) { std::copy(source.begin(), source.end(), out.begin()); });
  if (style == kStyleBands) spec.mouseReleased();
  for (auto _ : state) {
    spec.UpdateSpectrum();
    benchmark::DoNotOptimize(spec.buffer().data());
  }
}

void BM_UpdateSpectrumBands(benchmark::State &state) { runTicks(state, kStyleBands); }
void BM_UpdateSpectrumLinear(benchmark::State &state) { runTicks(state, kStyleLinear); }

void BM_ComputeBandsOnly(benchmark::State &state) {
  Magnitudes m{};
  const auto source = musicLikeMagnitudes();
  std::copy(source.begin(), source.end(), m.begin() + 0);
  SpectrumBuffer b;
  for (auto _ : state) {
    computeSpectrum(m, kStyleBands, b);
    benchmark::DoNotOptimize(b.data());
  }
}

}  // namespace

BENCHMARK(BM_UpdateSpectrumBands)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UpdateSpectrumLinear)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComputeBandsOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
