#pragma once
// Converts interleaved stereo float audio from a station's sample rate to the
// device rate by linear interpolation, continuously across calls.

#include <cstddef>
#include <vector>

namespace kirasol::audio {

class StereoResampler {
 public:
  StereoResampler(int inRate, int outRate);

  bool passthrough() const { return inRate_ == outRate_; }
  // Appends the converted frames of `frames` input frames to `out`.
  void process(const float *in, size_t frames, std::vector<float> &out);

 private:
  int inRate_;
  int outRate_;
  double step_;        // input frames per output frame
  double pos_ = 0.0;   // next output position, relative to prev_ (−1 .. )
  float prev_[2] = {0.0f, 0.0f};
  bool havePrev_ = false;
};

}  // namespace kirasol::audio
