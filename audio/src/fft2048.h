#pragma once
// The engine's spectrum: a 2048-point FFT of mono samples with a Hann window,
// magnitudes scaled by 2/N so a full-scale sine on a bin centre reads ~0.5.

#include <array>
#include <cstddef>
#include <memory>

struct kiss_fftr_state;

namespace kirasol::audio {

class Fft2048 {
 public:
  static constexpr size_t kSize = 2048;
  static constexpr size_t kBins = kSize / 2;

  Fft2048();
  ~Fft2048();
  Fft2048(const Fft2048 &) = delete;
  Fft2048 &operator=(const Fft2048 &) = delete;

  // `count` (≤ 2048) samples, zero-padded at the end; writes 1024 magnitudes.
  void magnitudes(const float *samples, size_t count, float *out);

 private:
  kiss_fftr_state *cfg_;
  std::array<float, kSize> window_;
  std::array<float, kSize> input_;
  std::unique_ptr<std::array<float, (kBins + 1) * 2>> spectrum_;
};

}  // namespace kirasol::audio
