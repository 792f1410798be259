#include "engine.h"

#include "error_state.h"
#include "fft2048.h"

#include <portaudio.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string_view>

namespace kirasol::audio {
namespace {

constexpr size_t kMixChunk = 1024;           // frames per mixing step
constexpr double kMixAheadSeconds = 0.25;    // how far the mix runs ahead of the device
constexpr auto kMixInterval = std::chrono::milliseconds(40);

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
    output = openPortAudioOutput(device, rate, error);
    if (!output) return error;
  }
  if (!output->start()) return BASS_ERROR_START;
  {
    std::lock_guard mix(mixMutex_);
    output_ = std::move(output);
    mixQuit_ = false;
    mixedGlobal_ = output_->consumedFrames();
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
  mixWake_.notify_all();
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
  mixWake_.notify_all();
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
    output_->stop();
    // What was mixed but not played is dropped; the clock goes on from what
    // the device really took.
    output_->ring().clear();
    mixedGlobal_ = output_->consumedFrames();
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
  if (!output_) return 0;
  const uint64_t consumed = output_->consumedFrames();
  const uint64_t latency = output_->latencyFrames();
  return consumed > latency ? consumed - latency : 0;
}

void Engine::mixerMain() {
  markEngineThread();
  std::vector<float> mix(kMixChunk * 2);
  uint64_t windowWork = 0;
  uint64_t windowFrames = 0;
  auto windowStart = Clock::now();
  uint64_t lastWork = workNs_.load();
  std::unique_lock lock(mixMutex_);
  while (!mixQuit_) {
    if (!outputStarted_) {
      mixWake_.wait(lock, [&] { return mixQuit_ || outputStarted_.load(); });
      continue;
    }
    const auto t0 = Clock::now();
    std::vector<std::shared_ptr<UrlStream>> playing;
    {
      std::lock_guard tables(mutex_);
      playing = playing_;
    }
    OutputDevice &out = *output_;
    const uint64_t ahead = uint64_t(kMixAheadSeconds * out.rate());
    const float volume = volume_.load();
    if (!playing.empty()) {
      while (out.ring().writable() >= kMixChunk * 2 && mixedGlobal_ - out.consumedFrames() < ahead) {
        std::fill(mix.begin(), mix.end(), 0.0f);
        for (auto &s : playing) s->mixInto(mix.data(), kMixChunk, mixedGlobal_);
        if (volume != 1.0f)
          for (float &v : mix) v *= volume;
        out.ring().write(mix.data(), mix.size());
        mixedGlobal_ += kMixChunk;
        windowFrames += kMixChunk;
      }
    }
    const uint64_t consumed = out.consumedFrames();
    const uint64_t heard = consumed > out.latencyFrames() ? consumed - out.latencyFrames() : 0;
    for (auto &s : playing) {
      const uint64_t frame = s->heardFrame(heard);
      for (auto &text : s->takeHeardMeta(frame)) postSync(SyncEvent{s->handle(), BASS_SYNC_META, std::move(text)});
      if (!s->ended && s->finishedAt(frame)) {
        s->ended = true;
        {
          std::lock_guard tables(mutex_);
          std::erase(playing_, s);
        }
        postSync(SyncEvent{s->handle(), BASS_SYNC_END, {}});
      }
    }
    playing.clear();

    // Processor load: decoding plus mixing time per second of audio produced.
    windowWork += uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count());
    const uint64_t work = workNs_.load();
    windowWork += work - lastWork;
    lastWork = work;
    if (Clock::now() - windowStart >= std::chrono::seconds(1)) {
      const double audioNs = double(windowFrames) * 1e9 / out.rate();
      cpuPercent_ = windowFrames == 0 ? 0.0f : float(double(windowWork) * 100.0 / audioNs);
      windowWork = windowFrames = 0;
      windowStart = Clock::now();
    }
    mixWake_.wait_for(lock, kMixInterval, [&] { return mixQuit_; });
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
  auto stream = std::make_shared<UrlStream>(handle, std::move(request), workNs_);
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
    mixWake_.notify_all();  // mix it now rather than at the next round
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
    if (recordSession_) return BASS_ERROR_ALREADY;
  }
  if (device < -1) return BASS_ERROR_DEVICE;
  PortAudioSession session;
  if (!session.ok()) return BASS_ERROR_DRIVER;
  PaDeviceIndex index = paNoDevice;
  if (device == -1) {
    index = Pa_GetDefaultInputDevice();
  } else {
    int seen = 0;
    for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount() && index == paNoDevice; ++i) {
      const PaDeviceInfo *info = Pa_GetDeviceInfo(i);
      if (info && info->maxInputChannels > 0 && seen++ == device) index = i;
    }
  }
  if (index == paNoDevice) return BASS_ERROR_DEVICE;
  std::lock_guard lock(mutex_);
  recordSession_.emplace(std::move(session));
  recordDevice_ = index;
  return BASS_OK;
}

int Engine::recordFree() {
  std::shared_ptr<Recording> recording;
  std::shared_ptr<PortAudioSession> session;
  {
    std::lock_guard life(lifecycleMutex_);
    std::lock_guard lock(mutex_);
    if (!recordSession_) return BASS_ERROR_INIT;
    recording = std::move(recording_);
    session = std::make_shared<PortAudioSession>(std::move(*recordSession_));
    recordSession_.reset();
  }
  // Closing waits for the capture thread, whose RECORDPROC may itself be
  // calling into the engine: no engine lock is held here. The session (the
  // PortAudio reference) ends only after the close.
  if (recording) {
    if (onEngineThread()) {
      defer([recording, session] { recording->close(); });
    } else {
      recording->close();
      waitUntilNotFiring(recording->handle());
    }
  }
  return BASS_OK;
}

HRECORD Engine::recordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC *proc, void *user, int &error) {
  HRECORD handle = 0;
  int device = -1;
  {
    std::lock_guard lock(mutex_);
    if (!recordSession_) {
      error = BASS_ERROR_INIT;
      return 0;
    }
    if (recording_) {
      error = BASS_ERROR_ALREADY;
      return 0;
    }
    handle = nextHandle_++;
    device = recordDevice_;
  }
  if (chans < 1 || chans > 2 || (freq != 0 && (freq < 8000 || freq > 192000))) {
    error = BASS_ERROR_FORMAT;
    return 0;
  }
  auto recording = std::make_shared<Recording>(handle, freq == 0 ? 44100 : int(freq), int(chans), proc, user);
  error = recording->open(device, (flags & BASS_RECORD_PAUSE) != 0);
  if (error != BASS_OK) return 0;
  std::lock_guard lock(mutex_);
  if (recording_ || !recordSession_) {
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
