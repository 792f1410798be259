#include "bass.h"
#include "output_device.h"
#include "portaudio_session.h"

#include <portaudio.h>

#include <algorithm>
#include <cstring>

namespace kirasol::audio {
namespace {

class PortAudioOutput final : public OutputDevice {
 public:
  PortAudioOutput(int rate, PortAudioSession session) : OutputDevice(rate), session_(std::move(session)) {}
  ~PortAudioOutput() override {
    if (stream_) {
      Pa_StopStream(stream_);
      Pa_CloseStream(stream_);
    }
  }

  int open(PaDeviceIndex device) {
    const PaDeviceInfo *info = Pa_GetDeviceInfo(device);
    if (!info || info->maxOutputChannels < 2) return BASS_ERROR_DEVICE;
    PaStreamParameters params{};
    params.device = device;
    params.channelCount = 2;
    params.sampleFormat = paFloat32;
    // Generous buffers: fewer wake-ups of the sound system's threads. The
    // engine knows the latency and dates what is heard accordingly.
    params.suggestedLatency = std::max(info->defaultHighOutputLatency, 0.3);
    const PaError err = Pa_OpenStream(&stream_, nullptr, &params, double(rate()), paFramesPerBufferUnspecified,
                                      paNoFlag, &PortAudioOutput::callback, this);
    if (err != paNoError) {
      stream_ = nullptr;
      return err == paInvalidSampleRate ? BASS_ERROR_FORMAT : BASS_ERROR_DRIVER;
    }
    if (const PaStreamInfo *si = Pa_GetStreamInfo(stream_))
      latency_ = uint64_t(si->outputLatency * rate() + 0.5);
    return BASS_OK;
  }

  bool start() override { return Pa_IsStreamActive(stream_) == 1 || Pa_StartStream(stream_) == paNoError; }
  void stop() override {
    if (Pa_IsStreamStopped(stream_) == 0) Pa_StopStream(stream_);
  }
  uint64_t latencyFrames() const override { return latency_; }

 private:
  // Real-time: copies what the mixer prepared, silence for the rest.
  static int callback(const void *, void *output, unsigned long frames, const PaStreamCallbackTimeInfo *,
                      PaStreamCallbackFlags, void *self) {
    auto *out = static_cast<float *>(output);
    const size_t got = static_cast<PortAudioOutput *>(self)->consume(out, frames);
    if (got < frames) std::memset(out + got * 2, 0, (frames - got) * 2 * sizeof(float));
    return paContinue;
  }

  PortAudioSession session_;
  PaStream *stream_ = nullptr;
  uint64_t latency_ = 0;
};

}  // namespace

std::unique_ptr<OutputDevice> openPortAudioOutput(int device, int rate, int &error) {
  PortAudioSession session;
  if (!session.ok()) {
    error = BASS_ERROR_DRIVER;
    return nullptr;
  }
  PaDeviceIndex index = paNoDevice;
  if (device == -1) {
    index = Pa_GetDefaultOutputDevice();
  } else {
    int seen = 0;
    for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); ++i) {
      const PaDeviceInfo *info = Pa_GetDeviceInfo(i);
      if (info && info->maxOutputChannels > 0 && ++seen == device) {
        index = i;
        break;
      }
    }
  }
  if (index == paNoDevice) {
    error = BASS_ERROR_DEVICE;
    return nullptr;
  }
  auto output = std::make_unique<PortAudioOutput>(rate, std::move(session));
  error = output->open(index);
  if (error != BASS_OK) return nullptr;
  return output;
}

}  // namespace kirasol::audio
