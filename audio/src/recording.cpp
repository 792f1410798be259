#include "recording.h"

#include "error_state.h"

#include <portaudio.h>

#include <algorithm>
#include <chrono>

namespace kirasol::audio {

Recording::Recording(HRECORD handle, int rate, int channels, RECORDPROC *proc, void *user)
    : handle_(handle), rate_(rate), channels_(channels), proc_(proc), user_(user),
      ring_(size_t(rate) * size_t(channels) * 2) {}

Recording::~Recording() { close(); }

int Recording::open(int device, bool paused) {
  const PaDeviceInfo *info = Pa_GetDeviceInfo(device);
  if (!info || info->maxInputChannels < 1) return BASS_ERROR_DEVICE;
  PaStreamParameters params{};
  params.device = device;
  params.channelCount = channels_;
  params.sampleFormat = paInt16;
  params.suggestedLatency = info->defaultHighInputLatency;
  PaStream *stream = nullptr;
  const PaError err = Pa_OpenStream(&stream, &params, nullptr, double(rate_), paFramesPerBufferUnspecified, paNoFlag,
                                    &Recording::onCapture, this);
  if (err != paNoError) return err == paInvalidChannelCount || err == paInvalidSampleRate ? BASS_ERROR_FORMAT
                                                                                          : BASS_ERROR_DRIVER;
  stream_ = stream;
  thread_ = std::thread([this] { deliveryMain(); });
  if (!paused && !resume()) return BASS_ERROR_START;
  return BASS_OK;
}

bool Recording::resume() {
  std::lock_guard lock(controlMutex_);
  if (!stream_) return false;
  if (!running_) {
    if (Pa_StartStream(stream_) != paNoError) return false;
    running_ = true;
  }
  return true;
}

void Recording::pauseCapture() {
  std::lock_guard lock(controlMutex_);
  if (stream_ && running_) {
    Pa_StopStream(stream_);
    running_ = false;
  }
}

void Recording::close() {
  {
    std::lock_guard lock(threadMutex_);
    quit_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(controlMutex_);
  if (stream_) {
    if (running_) Pa_StopStream(stream_);
    Pa_CloseStream(stream_);
    stream_ = nullptr;
    running_ = false;
  }
}

int Recording::onCapture(const void *input, void *, unsigned long frames, const PaStreamCallbackTimeInfo *,
                         PaStreamCallbackFlags, void *self) {
  auto *r = static_cast<Recording *>(self);
  if (input) r->ring_.write(static_cast<const int16_t *>(input), size_t(frames) * size_t(r->channels_));
  return paContinue;
}

void Recording::deliveryMain() {
  markEngineThread();
  std::vector<int16_t> block(ring_.capacity());
  std::unique_lock lock(threadMutex_);
  auto next = std::chrono::steady_clock::now();
  while (!quit_) {
    next += std::chrono::milliseconds(100);
    wake_.wait_until(lock, next, [&] { return quit_; });
    if (quit_) break;
    size_t n = ring_.read(block.data(), block.size());
    n -= n % size_t(channels_);
    if (n == 0 || !running_) continue;
    {
      std::lock_guard hl(historyMutex_);
      for (size_t i = 0; i < n; i += size_t(channels_)) {
        float sum = 0.0f;
        for (int c = 0; c < channels_; ++c) sum += float(block[i + size_t(c)]) / 32768.0f;
        history_[historyCount_++ % kHistory] = sum / float(channels_);
      }
    }
    lock.unlock();
    const BOOL keep = proc_ ? proc_(handle_, block.data(), DWORD(n * sizeof(int16_t)), user_) : TRUE;
    if (!keep) pauseCapture();
    lock.lock();
  }
}

size_t Recording::recentMono(float *out, size_t count, uint64_t *first) const {
  std::lock_guard lock(historyMutex_);
  const size_t n = size_t(std::min<uint64_t>({count, historyCount_, kHistory}));
  const uint64_t start = historyCount_ - n;
  if (first) *first = start;
  for (size_t i = 0; i < n; ++i) out[i] = history_[(start + i) % kHistory];
  return n;
}

}  // namespace kirasol::audio
