#include "recording.h"

#include "error_state.h"

#include <algorithm>
#include <chrono>

namespace kirasol::audio {

Recording::Recording(HRECORD handle, int rate, int channels, RECORDPROC *proc, void *user)
    : handle_(handle), rate_(rate), channels_(channels), proc_(proc), user_(user),
      ring_(size_t(rate) * size_t(channels) * 2) {}

Recording::~Recording() { close(); }

int Recording::open(std::shared_ptr<PulseConnection> connection, const std::optional<std::string> &source,
                    bool paused) {
  connection_ = std::move(connection);
  const int error = connectStream(source);
  if (error != BASS_OK) return error;
  thread_ = std::thread([this] { deliveryMain(); });
  if (!paused && !resume()) return BASS_ERROR_START;
  return BASS_OK;
}

int Recording::connectStream(const std::optional<std::string> &source) {
  const pa_sample_spec spec{PA_SAMPLE_S16NE, uint32_t(rate_), uint8_t(channels_)};
  if (!pa_sample_spec_valid(&spec)) return BASS_ERROR_FORMAT;
  PulseConnection::Lock lock(*connection_);
  pa_proplist *props = PulseConnection::streamProperties();
  stream_ = pa_stream_new_with_proplist(connection_->context(), "Kirasol Radio", &spec, nullptr, props);
  pa_proplist_free(props);
  if (!stream_) return BASS_ERROR_FORMAT;
  pa_stream_set_state_callback(
      stream_,
      [](pa_stream *, void *self) { pa_threaded_mainloop_signal(static_cast<Recording *>(self)->connection_->loop(), 0); },
      this);
  pa_stream_set_read_callback(
      stream_, [](pa_stream *, size_t, void *self) { static_cast<Recording *>(self)->onCapture(); }, this);
  // A delivery about every 100 ms, as callers expect.
  pa_buffer_attr attr{};
  attr.maxlength = uint32_t(-1);
  attr.fragsize = uint32_t(pa_usec_to_bytes(100000, &spec));
  attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);
  const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
  bool ok = pa_stream_connect_record(stream_, source ? source->c_str() : nullptr, &attr, flags) == 0;
  while (ok) {
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (state == PA_STREAM_READY) return BASS_OK;
    ok = PA_STREAM_IS_GOOD(state);
    if (ok) pa_threaded_mainloop_wait(connection_->loop());
  }
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_set_read_callback(stream_, nullptr, nullptr);
  pa_stream_unref(stream_);
  stream_ = nullptr;
  return BASS_ERROR_DEVICE;
}

// With the connection's lock held.
bool Recording::setCorked(bool corked) {
  struct Done {
    pa_threaded_mainloop *loop;
    int success = -1;
  } done{connection_->loop()};
  pa_operation *op = pa_stream_cork(
      stream_, corked ? 1 : 0,
      [](pa_stream *, int success, void *d) {
        auto &done = *static_cast<Done *>(d);
        done.success = success;
        pa_threaded_mainloop_signal(done.loop, 0);
      },
      &done);
  if (!op) return false;
  connection_->finish(op);
  return done.success == 1;
}

bool Recording::resume() {
  std::lock_guard control(controlMutex_);
  if (!connection_) return false;
  PulseConnection::Lock lock(*connection_);
  if (!stream_) return false;
  if (!running_) {
    if (!setCorked(false)) return false;
    running_ = true;
  }
  return true;
}

void Recording::pauseCapture() {
  std::lock_guard control(controlMutex_);
  if (!connection_) return;
  PulseConnection::Lock lock(*connection_);
  if (stream_ && running_) {
    setCorked(true);
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
  std::lock_guard control(controlMutex_);
  if (!connection_) return;
  {
    PulseConnection::Lock lock(*connection_);
    if (stream_) {
      pa_stream_set_state_callback(stream_, nullptr, nullptr);
      pa_stream_set_read_callback(stream_, nullptr, nullptr);
      pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
      stream_ = nullptr;
    }
    running_ = false;
  }
  connection_.reset();
}

// Copies what the server delivered into the ring and wakes the delivery
// thread; the RECORDPROC never runs on the server connection's thread.
void Recording::onCapture() {
  const void *data = nullptr;
  size_t bytes = 0;
  while (pa_stream_readable_size(stream_) > 0 && pa_stream_peek(stream_, &data, &bytes) == 0) {
    if (bytes == 0) break;
    if (data) ring_.write(static_cast<const int16_t *>(data), bytes / sizeof(int16_t));
    pa_stream_drop(stream_);
  }
  {
    std::lock_guard lock(threadMutex_);
    ++arrivals_;
  }
  wake_.notify_all();
}

void Recording::deliveryMain() {
  markEngineThread();
  std::vector<int16_t> block(ring_.capacity());
  std::unique_lock lock(threadMutex_);
  uint64_t seen = 0;
  while (!quit_) {
    wake_.wait(lock, [&] { return quit_ || arrivals_ != seen; });
    if (quit_) break;
    seen = arrivals_;
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
