#include "fft2048.h"

#include <kissfft/kiss_fftr.h>

#include <cmath>
#include <numbers>
#include <stdexcept>

namespace kirasol::audio {

Fft2048::Fft2048()
    : cfg_(kiss_fftr_alloc(int(kSize), 0, nullptr, nullptr)),
      spectrum_(std::make_unique<std::array<float, (kBins + 1) * 2>>()) {
  if (!cfg_) throw std::bad_alloc();
  for (size_t i = 0; i < kSize; ++i)
    window_[i] = float(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * double(i) / double(kSize)));
}

Fft2048::~Fft2048() { kiss_fftr_free(cfg_); }

void Fft2048::magnitudes(const float *samples, size_t count, float *out) {
  if (count > kSize) count = kSize;
  for (size_t i = 0; i < count; ++i) input_[i] = samples[i] * window_[i];
  for (size_t i = count; i < kSize; ++i) input_[i] = 0.0f;
  auto *bins = reinterpret_cast<kiss_fft_cpx *>(spectrum_->data());
  kiss_fftr(cfg_, input_.data(), bins);
  constexpr float scale = 2.0f / float(kSize);
  for (size_t k = 0; k < kBins; ++k) out[k] = std::sqrt(bins[k].r * bins[k].r + bins[k].i * bins[k].i) * scale;
}

}  // namespace kirasol::audio
