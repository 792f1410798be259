#include "bass.h"
#include "output_device.h"
#include "pulse_connection.h"

#include <algorithm>

namespace kirasol::audio {
namespace {

// The server asks for more once `kRequestMs` have been played out of the
// `kTargetMs` queued: under seven requests a second, each waking this
// process and the server. The server keeps (target - 2 x request) / 2 =
// 100 ms in the device itself; a shorter share there makes the server wake
// far more often. A volume change is heard after what is queued, at most
// half a second. A stream starts to sound as soon as `kStartMs` are there.
constexpr uint32_t kTargetMs = 500;
constexpr uint32_t kRequestMs = 150;
constexpr uint32_t kStartMs = 100;

class PulseOutput final : public OutputDevice {
 public:
  PulseOutput(int rate, MixerWake &wake, std::shared_ptr<PulseConnection> connection,
              std::optional<std::string> sink)
      : OutputDevice(rate), wake_(wake), connection_(std::move(connection)), sink_(std::move(sink)) {}
  ~PulseOutput() override { stop(); }

  bool start() override {
    PulseConnection::Lock lock(*connection_);
    return stream_ || connectStream();
  }

  // A stopped output drops what is queued: the stream goes, and the next
  // start() makes a new one that continues the count from what was heard.
  void stop() override {
    PulseConnection::Lock lock(*connection_);
    if (!stream_) return;
    const uint64_t heard = heardLocked();
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
    base_ = written_ = heard;
  }

  size_t writableFrames() override {
    PulseConnection::Lock lock(*connection_);
    if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return 0;
    const size_t bytes = pa_stream_writable_size(stream_);
    return bytes == size_t(-1) ? 0 : bytes / kFrameBytes;
  }

  void write(const float *frames, size_t count) override {
    PulseConnection::Lock lock(*connection_);
    if (!stream_) return;
    if (pa_stream_write(stream_, frames, count * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
    written_ += count;
    if (corked_) cork(false);
  }

  uint64_t writtenFrames() override {
    PulseConnection::Lock lock(*connection_);
    return written_;
  }

  uint64_t heardFrames() override {
    PulseConnection::Lock lock(*connection_);
    return heardLocked();
  }

  // Nothing more to play: once the queue has been heard, pause the stream so
  // that neither the server nor this process wakes for silence.
  void idle() override {
    PulseConnection::Lock lock(*connection_);
    if (stream_ && !corked_ && heardLocked() >= written_) cork(true);
  }

  int open() {
    PulseConnection::Lock lock(*connection_);
    return connectStream() ? BASS_OK : BASS_ERROR_DRIVER;
  }

 private:
  static constexpr size_t kFrameBytes = 2 * sizeof(float);

  uint32_t bytesFor(uint32_t ms) const { return uint32_t(uint64_t(rate()) * ms / 1000) * kFrameBytes; }

  bool connectStream() {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, uint32_t(rate()), 2};
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    pa_proplist *props = PulseConnection::streamProperties();
    stream_ = pa_stream_new_with_proplist(connection_->context(), "Kirasol Radio", &spec, &map, props);
    pa_proplist_free(props);
    if (!stream_) return false;
    pa_stream_set_state_callback(
        stream_,
        [](pa_stream *, void *self) {
          pa_threaded_mainloop_signal(static_cast<PulseOutput *>(self)->connection_->loop(), 0);
        },
        this);
    // The server wants data: wake the mixer (it writes; this only signals).
    pa_stream_set_write_callback(
        stream_, [](pa_stream *, size_t, void *self) { static_cast<PulseOutput *>(self)->wake_.bump(); }, this);
    pa_buffer_attr attr{};
    attr.maxlength = uint32_t(-1);
    attr.tlength = bytesFor(kTargetMs);
    attr.prebuf = bytesFor(kStartMs);
    attr.minreq = bytesFor(kRequestMs);
    attr.fragsize = uint32_t(-1);
    const auto flags = pa_stream_flags_t(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                         PA_STREAM_NOT_MONOTONIC | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(stream_, sink_ ? sink_->c_str() : nullptr, &attr, flags, nullptr, nullptr) < 0)
      return dropStream();
    for (;;) {
      const pa_stream_state_t state = pa_stream_get_state(stream_);
      if (state == PA_STREAM_READY) break;
      if (!PA_STREAM_IS_GOOD(state)) return dropStream();
      pa_threaded_mainloop_wait(connection_->loop());
    }
    corked_ = false;
    return true;
  }

  bool dropStream() {
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_unref(stream_);
    stream_ = nullptr;
    return false;
  }

  void cork(bool on) {
    corked_ = on;
    if (pa_operation *op = pa_stream_cork(stream_, on ? 1 : 0, nullptr, nullptr)) pa_operation_unref(op);
  }

  // Frames written that have reached the listener: the server's playback
  // clock, interpolated between its timing reports.
  uint64_t heardLocked() const {
    if (!stream_) return base_;
    pa_usec_t usec = 0;
    if (pa_stream_get_time(stream_, &usec) < 0) return base_;
    const uint64_t played = base_ + usec * uint64_t(rate()) / 1000000;
    return std::min(played, written_);
  }

  MixerWake &wake_;
  std::shared_ptr<PulseConnection> connection_;
  std::optional<std::string> sink_;
  pa_stream *stream_ = nullptr;  // guarded by the main loop's lock
  bool corked_ = false;
  uint64_t base_ = 0;     // frames heard on the streams before this one
  uint64_t written_ = 0;  // frames written on all streams
};

}  // namespace

std::unique_ptr<OutputDevice> openPulseOutput(int device, int rate, MixerWake &wake, int &error) {
  auto connection = PulseConnection::get(error);
  if (!connection) return nullptr;
  std::optional<std::string> sink;
  if (device >= 1) {
    sink = connection->deviceName(true, device);
    if (!sink) {
      error = BASS_ERROR_DEVICE;
      return nullptr;
    }
  }
  auto output = std::make_unique<PulseOutput>(rate, wake, std::move(connection), std::move(sink));
  error = output->open();
  if (error != BASS_OK) return nullptr;
  return output;
}

}  // namespace kirasol::audio
