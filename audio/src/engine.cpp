#include "engine.h"

#include "error_state.h"
#include "fft2048.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string_view>

namespace kirasol::audio {
namespace {

constexpr size_t kMixChunk = 1024;  // frames per mixing step

using Clock = std::chrono::steady_clock;

// Checks what can be checked before connecting: a scheme, and one we speak.
int checkUrl(const char *url) {
  if (!url || !*url) return BASS_ERROR_ILLPARAM;
  const std::string_view text(url);
  const auto sep = text.find("://");
  if (sep == std::string_view::npos || sep == 0) return BASS_ERROR_ILLPARAM;
  std::string scheme(text.substr(0, sep));
  for (char &c : scheme) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return BASS_ERROR_ILLPARAM;
    c = char(std::tolower(static_cast<unsigned char>(c)));
  }
  if (scheme != "http" && scheme != "https") return BASS_ERROR_PROTOCOL;
  const auto host = text.substr(sep + 3);
  if (host.empty() || host.front() == '/' || host.find_first_of(" \t\r\n") != std::string_view::npos)
    return BASS_ERROR_ILLPARAM;
  return BASS_OK;
}

// The last spectrum computed on this thread. The display asks more often than
// the device takes audio (the heard position moves once per device period),
// so many calls see exactly the samples of the call before.
struct FftCache {
  Fft2048 fft;
  bool valid = false;
  DWORD channel = 0;  // handles are never reused
  uint64_t first = 0;
  size_t count = 0;
  std::array<float, Fft2048::kBins> bins{};
};

FftCache &threadFft() {
  thread_local FftCache cache;
  return cache;
}

}  // namespace

Engine &Engine::instance() {
  static Engine engine;
  return engine;
}

Engine::Engine()
    : syncThread_([this] { syncMain(); }), janitorThread_([this] { janitorMain(); }) {}

Engine::~Engine() {
  // The process is ending: release what the program left open.
  free();
  recordFree();
  {
    std::lock_guard lock(syncMutex_);
    syncQuit_ = true;
  }
  syncWake_.notify_all();
  syncThread_.join();
  {
    std::lock_guard lock(janitorMutex_);
    janitorQuit_ = true;
  }
  janitorWake_.notify_all();
  janitorThread_.join();
}

// ---- output ------------------------------------------------------------------

int Engine::init(int device, DWORD freq) {
  std::lock_guard life(lifecycleMutex_);
  {
    std::lock_guard lock(mutex_);
    if (initialised_) return BASS_ERROR_ALREADY;
  }
  if (device < -1) return BASS_ERROR_DEVICE;
  const int rate = freq == 0 ? 44100 : int(freq);
  if (rate < 8000 || rate > 192000) return BASS_ERROR_FORMAT;
  std::unique_ptr<OutputDevice> output;
  if (device == 0) {
    output = openSilentOutput(rate);
  } else {
    int error = BASS_OK;
    output = openPulseOutput(device, rate, wake_, error);
    if (!output) return error;
  }
  if (!output->start()) return BASS_ERROR_START;
  {
    std::lock_guard mix(mixMutex_);
    output_ = std::move(output);
    mixQuit_ = false;
    mixedGlobal_ = output_->writtenFrames();
  }
  {
    std::lock_guard lock(mutex_);
    initialised_ = true;
    deviceRate_ = rate;
  }
  volume_ = 1.0f;
  cpuPercent_ = 0.0f;
  outputStarted_ = true;
  mixer_ = std::thread([this] { mixerMain(); });
  return BASS_OK;
}

int Engine::free() {
  std::unique_lock life(lifecycleMutex_);
  std::vector<std::shared_ptr<UrlStream>> streams;
  {
    std::lock_guard lock(mutex_);
    if (!initialised_) return BASS_ERROR_INIT;
    initialised_ = false;
    for (auto &[handle, stream] : streams_) streams.push_back(stream);
    streams_.clear();
    playing_.clear();
  }
  outputStarted_ = false;
  {
    std::lock_guard mix(mixMutex_);
    mixQuit_ = true;
  }
  wake_.bump();
  if (mixer_.joinable()) mixer_.join();
  {
    std::lock_guard mix(mixMutex_);
    output_->stop();
    output_.reset();
  }
  life.unlock();
  for (auto &stream : streams) releaseStream(std::move(stream));
  return BASS_OK;
}

int Engine::start() {
  std::lock_guard life(lifecycleMutex_);
  {
    std::lock_guard lock(mutex_);
    if (!initialised_) return BASS_ERROR_INIT;
  }
  std::lock_guard mix(mixMutex_);
  if (!output_->start()) return BASS_ERROR_START;
  outputStarted_ = true;
  wake_.bump();
  return BASS_OK;
}

int Engine::stop() {
  std::unique_lock life(lifecycleMutex_);
  std::vector<std::shared_ptr<UrlStream>> stopped;
  {
    std::lock_guard lock(mutex_);
    if (!initialised_) return BASS_ERROR_INIT;
    stopped.swap(playing_);
  }
  for (auto &s : stopped) s->playing = false;
  {
    std::lock_guard mix(mixMutex_);
    outputStarted_ = false;
    // What was mixed but not heard is dropped; the count goes on from what
    // was heard.
    output_->stop();
    mixedGlobal_ = output_->writtenFrames();
  }
  life.unlock();
  for (auto &s : stopped)
    if (s->autoFree()) freeChannel(s->handle());
  return BASS_OK;
}

int Engine::setVolume(float volume) {
  std::lock_guard lock(mutex_);
  if (!initialised_) return BASS_ERROR_INIT;
  if (!(volume >= 0.0f && volume <= 1.0f)) return BASS_ERROR_ILLPARAM;
  volume_ = volume;
  return BASS_OK;
}

uint64_t Engine::heardGlobal() {
  std::lock_guard mix(mixMutex_);
  return output_ ? output_->heardFrames() : 0;
}

std::chrono::steady_clock::duration Engine::framesToTime(uint64_t frames, int rate) {
  // Rounded up, so that a wake-up at that time finds the frames heard.
  return std::chrono::microseconds((frames * 1000000 + uint64_t(rate) - 1) / uint64_t(rate));
}

void Engine::mixerMain() {
  markEngineThread();
  std::vector<float> mix;
  uint64_t windowWork = 0;
  uint64_t windowFrames = 0;
  auto windowStart = Clock::now();
  uint64_t lastWork = workNs_.load();
  std::unique_lock lock(mixMutex_);
  while (!mixQuit_) {
    const uint64_t seen = wake_.count();
    if (!outputStarted_) {
      lock.unlock();
      wake_.waitChange(seen, Clock::time_point::max());
      lock.lock();
      continue;
    }
    const auto t0 = Clock::now();
    std::vector<std::shared_ptr<UrlStream>> playing;
    {
      std::lock_guard tables(mutex_);
      playing = playing_;
    }
    OutputDevice &out = *output_;
    const float volume = volume_.load();
    // Fill the room the device has. Silence (every stream stalled) is
    // written only while earlier audio is still queued, so that a stall in
    // the middle plays on without a break in the device's clock, while a
    // stream that has not sounded yet does not queue silence before its
    // first audio.
    bool full = false;  // stopped for want of room, not of audio
    while (!playing.empty()) {
      // All the room in one write: each write wakes the sound server's
      // connection thread.
      const size_t chunks = out.writableFrames() / kMixChunk;
      if (chunks == 0) {
        full = true;
        break;
      }
      mix.resize(chunks * kMixChunk * 2);
      std::fill(mix.begin(), mix.end(), 0.0f);
      size_t ready = 0;
      for (; ready < chunks; ++ready) {
        float *chunk = mix.data() + ready * kMixChunk * 2;
        size_t audible = 0;
        bool late = false;
        for (auto &s : playing) audible = std::max(audible, s->mixInto(chunk, kMixChunk, mixedGlobal_, late));
        // A stream's audio will wake us.
        if (audible == 0 && (late || out.heardFrames() >= mixedGlobal_)) break;
        mixedGlobal_ += kMixChunk;
      }
      if (ready == 0) break;
      if (volume != 1.0f)
        for (float &v : mix) v *= volume;
      out.write(mix.data(), ready * kMixChunk);
      windowFrames += ready * kMixChunk;
      if (ready < chunks) break;
    }
    const uint64_t heard = out.heardFrames();
    auto deadline = Clock::time_point::max();
    for (auto &s : playing) {
      const uint64_t frame = s->heardFrame(heard);
      if (auto text = s->takeHeardMeta(frame)) postSync(SyncEvent{s->handle(), BASS_SYNC_META, std::move(*text)});
      if (!s->ended && s->finishedAt(frame)) {
        s->ended = true;
        {
          std::lock_guard tables(mutex_);
          std::erase(playing_, s);
        }
        postSync(SyncEvent{s->handle(), BASS_SYNC_END, {}});
        continue;
      }
      // Wake when the stream's next title or its end is heard.
      if (const auto due = s->nextEventGlobal(); due && *due > heard)
        deadline = std::min(deadline, Clock::now() + framesToTime(*due - heard, out.rate()));
    }

    // Processor load: decoding plus mixing time per second of audio produced.
    windowWork += uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count());
    const uint64_t work = workNs_.load();
    windowWork += work - lastWork;
    lastWork = work;
    if (playing.empty()) {
      cpuPercent_ = 0.0f;
      windowWork = windowFrames = 0;
      windowStart = Clock::now();
      out.idle();
      // The tail of the last stream is still to be heard: pause the device after it.
      if (heard < mixedGlobal_) deadline = std::min(deadline, Clock::now() + framesToTime(mixedGlobal_ - heard, out.rate()));
    } else if (Clock::now() - windowStart >= std::chrono::seconds(1)) {
      const double audioNs = double(windowFrames) * 1e9 / out.rate();
      cpuPercent_ = windowFrames == 0 ? 0.0f : float(double(windowWork) * 100.0 / audioNs);
      windowWork = windowFrames = 0;
      windowStart = Clock::now();
    }
    if (full) deadline = std::min(deadline, out.roomAt(size_t(out.rate()) / 10));
    playing.clear();
    lock.unlock();
    wake_.waitChange(seen, deadline);
    lock.lock();
  }
}

// ---- channels ----------------------------------------------------------------

std::shared_ptr<UrlStream> Engine::findStream(DWORD handle) {
  std::lock_guard lock(mutex_);
  const auto it = streams_.find(handle);
  return it == streams_.end() ? nullptr : it->second;
}

std::shared_ptr<Recording> Engine::findRecording(DWORD handle) {
  std::lock_guard lock(mutex_);
  return recording_ && recording_->handle() == handle ? recording_ : nullptr;
}

HSTREAM Engine::createStream(const char *url, DWORD flags, DOWNLOADPROC *proc, void *user, int &error) {
  StreamRequest request;
  HSTREAM handle = 0;
  {
    std::lock_guard lock(mutex_);
    if (!initialised_) {
      error = BASS_ERROR_INIT;
      return 0;
    }
    handle = nextHandle_++;
    request.deviceRate = deviceRate_;
  }
  error = checkUrl(url);
  if (error != BASS_OK) return 0;
  request.url = url;
  request.flags = flags;
  request.proc = proc;
  request.user = user;
  request.net = net.snapshot();
  auto stream = std::make_shared<UrlStream>(handle, std::move(request), workNs_, wake_);
  error = stream->open();
  if (error != BASS_OK) return 0;
  std::lock_guard lock(mutex_);
  if (!initialised_) {
    // BASS_Free ran while this stream was connecting.
    error = BASS_ERROR_INIT;
    stream->cancel();
    defer([stream] { stream->join(); });
    return 0;
  }
  streams_.emplace(handle, std::move(stream));
  return handle;
}

void Engine::releaseStream(std::shared_ptr<UrlStream> stream) {
  stream->cancel();
  if (onEngineThread()) {
    // Possibly one of the stream's own threads: let the clean-up thread wait.
    defer([stream] { stream->join(); });
    return;
  }
  stream->join();
  waitUntilNotFiring(stream->handle());
}

void Engine::releaseRecording(std::shared_ptr<Recording> recording) {
  if (onEngineThread()) {
    defer([recording] { recording->close(); });
    return;
  }
  recording->close();
  waitUntilNotFiring(recording->handle());
}

int Engine::freeChannel(DWORD handle) {
  std::shared_ptr<UrlStream> stream;
  std::shared_ptr<Recording> recording;
  {
    std::lock_guard lock(mutex_);
    if (const auto it = streams_.find(handle); it != streams_.end()) {
      stream = std::move(it->second);
      streams_.erase(it);
      std::erase(playing_, stream);
    } else if (recording_ && recording_->handle() == handle) {
      recording = std::move(recording_);
    } else {
      return BASS_ERROR_HANDLE;
    }
  }
  if (stream) releaseStream(std::move(stream));
  if (recording) releaseRecording(std::move(recording));
  return BASS_OK;
}

int Engine::play(DWORD handle) {
  if (auto recording = findRecording(handle)) return recording->resume() ? BASS_OK : BASS_ERROR_START;
  std::lock_guard lock(mutex_);
  const auto it = streams_.find(handle);
  if (it == streams_.end()) return BASS_ERROR_HANDLE;
  if (!outputStarted_) return BASS_ERROR_START;
  auto &stream = it->second;
  if (!stream->playing && !stream->ended) {
    stream->playing = true;
    playing_.push_back(stream);
    wake_.bump();  // mix it now
  }
  return BASS_OK;
}

QWORD Engine::filePosition(DWORD handle, DWORD mode, int &error) {
  const QWORD failed = QWORD(-1);
  const auto stream = findStream(handle);
  if (!stream) {
    error = findRecording(handle) ? BASS_ERROR_NOTFILE : BASS_ERROR_HANDLE;
    return failed;
  }
  error = BASS_OK;
  switch (mode) {
    case BASS_FILEPOS_CURRENT: return stream->decodedBytes();
    case BASS_FILEPOS_DOWNLOAD: return stream->downloadedBytes();
    case BASS_FILEPOS_END: return stream->bufferSize();
    case BASS_FILEPOS_START: return 0;
    case BASS_FILEPOS_CONNECTED: return stream->connected() ? 1 : 0;
    case BASS_FILEPOS_BUFFER: return stream->bufferHeld();
    default:
      error = BASS_ERROR_ILLPARAM;
      return failed;
  }
}

const char *Engine::tags(DWORD handle, DWORD type, int &error) {
  const auto stream = findStream(handle);
  if (!stream) {
    error = findRecording(handle) ? BASS_ERROR_NOTAVAIL : BASS_ERROR_HANDLE;
    return nullptr;
  }
  const char *tag = nullptr;
  switch (type) {
    case BASS_TAG_ICY: tag = stream->icyTags(); break;
    case BASS_TAG_HTTP: tag = stream->httpTags(); break;
    case BASS_TAG_META: tag = stream->metaTag(); break;
    default: break;
  }
  error = tag ? BASS_OK : BASS_ERROR_NOTAVAIL;
  return tag;
}

HSYNC Engine::setSync(DWORD handle, DWORD type, SYNCPROC *proc, void *user, int &error) {
  const auto stream = findStream(handle);
  if (!stream) {
    error = findRecording(handle) ? BASS_ERROR_ILLTYPE : BASS_ERROR_HANDLE;
    return 0;
  }
  const DWORD kind = type & ~DWORD(BASS_SYNC_MIXTIME);
  if (kind != BASS_SYNC_META && kind != BASS_SYNC_END) {
    error = BASS_ERROR_ILLTYPE;
    return 0;
  }
  if (!proc) {
    error = BASS_ERROR_ILLPARAM;
    return 0;
  }
  HSYNC sync = 0;
  {
    std::lock_guard lock(mutex_);
    sync = nextSync_++;
  }
  error = BASS_OK;
  return stream->addSync(sync, type, proc, user);
}

DWORD Engine::fft(DWORD handle, float *out, int &error) {
  float samples[Fft2048::kSize];
  size_t count = 0;
  uint64_t first = 0;
  DWORD bytesPerFrame = 0;
  if (const auto stream = findStream(handle)) {
    count = stream->recentMono(stream->heardFrame(heardGlobal()), samples, Fft2048::kSize, &first);
    bytesPerFrame = 2 * sizeof(float);
  } else if (const auto recording = findRecording(handle)) {
    count = recording->recentMono(samples, Fft2048::kSize, &first);
    bytesPerFrame = DWORD(recording->channels() * sizeof(int16_t));
  } else {
    error = BASS_ERROR_HANDLE;
    return DWORD(-1);
  }
  if (!out) {
    error = BASS_ERROR_ILLPARAM;
    return DWORD(-1);
  }
  FftCache &cache = threadFft();
  if (!cache.valid || cache.channel != handle || cache.first != first || cache.count != count) {
    cache.fft.magnitudes(samples, count, cache.bins.data());
    cache.valid = true;
    cache.channel = handle;
    cache.first = first;
    cache.count = count;
  }
  std::copy(cache.bins.begin(), cache.bins.end(), out);
  error = BASS_OK;
  return DWORD(count) * bytesPerFrame;
}

DWORD Engine::activity(DWORD handle, int &error) {
  error = BASS_OK;
  if (const auto stream = findStream(handle)) return stream->activity(heardGlobal());
  if (const auto recording = findRecording(handle))
    return recording->running() ? BASS_ACTIVE_PLAYING : BASS_ACTIVE_PAUSED;
  error = BASS_ERROR_HANDLE;
  return BASS_ACTIVE_STOPPED;
}

// ---- capture -----------------------------------------------------------------

int Engine::recordInit(int device) {
  std::lock_guard life(lifecycleMutex_);
  {
    std::lock_guard lock(mutex_);
    if (recordConnection_) return BASS_ERROR_ALREADY;
  }
  if (device < -1) return BASS_ERROR_DEVICE;
  int error = BASS_OK;
  auto connection = PulseConnection::get(error);
  if (!connection) return error;
  std::optional<std::string> source;
  if (device >= 0) {
    source = connection->deviceName(false, device + 1);
    if (!source) return BASS_ERROR_DEVICE;
  }
  std::lock_guard lock(mutex_);
  recordConnection_ = std::move(connection);
  recordSource_ = std::move(source);
  return BASS_OK;
}

int Engine::recordFree() {
  std::shared_ptr<Recording> recording;
  std::shared_ptr<PulseConnection> connection;
  {
    std::lock_guard life(lifecycleMutex_);
    std::lock_guard lock(mutex_);
    if (!recordConnection_) return BASS_ERROR_INIT;
    recording = std::move(recording_);
    connection = std::move(recordConnection_);
    recordSource_.reset();
  }
  // Closing waits for the capture thread, whose RECORDPROC may itself be
  // calling into the engine: no engine lock is held here. The connection
  // ends only after the close.
  if (recording) {
    if (onEngineThread()) {
      defer([recording, connection] { recording->close(); });
    } else {
      recording->close();
      waitUntilNotFiring(recording->handle());
    }
  }
  return BASS_OK;
}

HRECORD Engine::recordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC *proc, void *user, int &error) {
  HRECORD handle = 0;
  std::shared_ptr<PulseConnection> connection;
  std::optional<std::string> source;
  {
    std::lock_guard lock(mutex_);
    if (!recordConnection_) {
      error = BASS_ERROR_INIT;
      return 0;
    }
    if (recording_) {
      error = BASS_ERROR_ALREADY;
      return 0;
    }
    handle = nextHandle_++;
    connection = recordConnection_;
    source = recordSource_;
  }
  if (chans < 1 || chans > 2 || (freq != 0 && (freq < 8000 || freq > 192000))) {
    error = BASS_ERROR_FORMAT;
    return 0;
  }
  auto recording = std::make_shared<Recording>(handle, freq == 0 ? 44100 : int(freq), int(chans), proc, user);
  error = recording->open(std::move(connection), source, (flags & BASS_RECORD_PAUSE) != 0);
  if (error != BASS_OK) return 0;
  std::lock_guard lock(mutex_);
  if (recording_ || !recordConnection_) {
    error = recording_ ? BASS_ERROR_ALREADY : BASS_ERROR_INIT;
    defer([recording] { recording->close(); });
    return 0;
  }
  recording_ = std::move(recording);
  return handle;
}

// ---- sync and clean-up threads -----------------------------------------------

void Engine::postSync(SyncEvent event) {
  {
    std::lock_guard lock(syncMutex_);
    // A title still waiting for a slow callback is replaced by a newer one.
    const auto waiting = std::find_if(syncQueue_.begin(), syncQueue_.end(), [&](const SyncEvent &e) {
      return e.channel == event.channel && e.type == BASS_SYNC_META;
    });
    if (event.type == BASS_SYNC_META && waiting != syncQueue_.end())
      waiting->text = std::move(event.text);
    else
      syncQueue_.push_back(std::move(event));
  }
  syncWake_.notify_all();
}

void Engine::syncMain() {
  markEngineThread();
  std::unique_lock lock(syncMutex_);
  for (;;) {
    syncWake_.wait(lock, [&] { return syncQuit_ || !syncQueue_.empty(); });
    if (syncQueue_.empty()) break;
    SyncEvent event = std::move(syncQueue_.front());
    syncQueue_.pop_front();
    firing_ = event.channel;
    lock.unlock();
    if (auto stream = findStream(event.channel)) {
      if (event.type == BASS_SYNC_META) stream->makeMetaCurrent(std::move(event.text));
      for (const auto &sync : stream->syncsOfType(event.type)) sync.proc(sync.handle, event.channel, 0, sync.user);
      if (event.type == BASS_SYNC_END && stream->autoFree()) freeChannel(event.channel);
    }
    lock.lock();
    firing_ = 0;
    syncWake_.notify_all();
  }
}

void Engine::waitUntilNotFiring(DWORD channel) {
  std::unique_lock lock(syncMutex_);
  syncWake_.wait(lock, [&] { return firing_ != channel; });
}

void Engine::defer(std::function<void()> task) {
  {
    std::lock_guard lock(janitorMutex_);
    janitorQueue_.push_back(std::move(task));
  }
  janitorWake_.notify_all();
}

void Engine::janitorMain() {
  markEngineThread();
  std::unique_lock lock(janitorMutex_);
  for (;;) {
    janitorWake_.wait(lock, [&] { return janitorQuit_ || !janitorQueue_.empty(); });
    if (janitorQueue_.empty()) break;
    auto task = std::move(janitorQueue_.front());
    janitorQueue_.pop_front();
    lock.unlock();
    task();
    task = nullptr;
    lock.lock();
  }
}

}  // namespace kirasol::audio
