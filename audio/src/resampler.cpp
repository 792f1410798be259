#include "resampler.h"

namespace kirasol::audio {

StereoResampler::StereoResampler(int inRate, int outRate)
    : inRate_(inRate), outRate_(outRate), step_(double(inRate) / double(outRate)) {}

void StereoResampler::process(const float *in, size_t frames, std::vector<float> &out) {
  if (passthrough()) {
    out.insert(out.end(), in, in + frames * 2);
    return;
  }
  if (frames == 0) return;
  if (!havePrev_) {
    prev_[0] = in[0];
    prev_[1] = in[1];
    havePrev_ = true;
    pos_ = 0.0;
  }
  // Position 0 is prev_ (the last frame of the previous call), position i + 1
  // is in[i]; output frames fall every step_ input frames.
  while (pos_ < double(frames)) {
    const size_t i = size_t(pos_);
    const float frac = float(pos_ - double(i));
    const float *a = i == 0 ? prev_ : in + (i - 1) * 2;
    const float *b = in + i * 2;
    out.push_back(a[0] + (b[0] - a[0]) * frac);
    out.push_back(a[1] + (b[1] - a[1]) * frac);
    pos_ += step_;
  }
  pos_ -= double(frames);
  prev_[0] = in[(frames - 1) * 2];
  prev_[1] = in[(frames - 1) * 2 + 1];
}

}  // namespace kirasol::audio
