#pragma once
// The engine behind the C calls: the handle tables, the output with its mixer
// thread, the sync thread and the clean-up thread. A C library keeps its state
// for the whole process; this is that state, reached only from bass_api.cpp.

#include "bass.h"
#include "net_config.h"
#include "output_device.h"
#include "pulse_connection.h"
#include "recording.h"
#include "url_stream.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace kirasol::audio {

class Engine {
 public:
  static Engine &instance();
  ~Engine();

  NetConfigStore net;

  // Output. Each returns a BASS error code (BASS_OK on success).
  int init(int device, DWORD freq);
  int free();
  int start();
  int stop();
  int setVolume(float volume);
  float cpuPercent() const { return cpuPercent_.load(); }

  // Channels.
  HSTREAM createStream(const char *url, DWORD flags, DOWNLOADPROC *proc, void *user, int &error);
  int freeChannel(DWORD handle);
  int play(DWORD handle);
  QWORD filePosition(DWORD handle, DWORD mode, int &error);
  const char *tags(DWORD handle, DWORD type, int &error);
  HSYNC setSync(DWORD handle, DWORD type, SYNCPROC *proc, void *user, int &error);
  DWORD fft(DWORD handle, float *out, int &error);
  DWORD activity(DWORD handle, int &error);

  // Capture.
  int recordInit(int device);
  int recordFree();
  HRECORD recordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC *proc, void *user, int &error);

 private:
  Engine();
  struct SyncEvent {
    DWORD channel;
    DWORD type;
    std::string text;
  };

  std::shared_ptr<UrlStream> findStream(DWORD handle);
  std::shared_ptr<Recording> findRecording(DWORD handle);
  void releaseStream(std::shared_ptr<UrlStream> stream);
  void releaseRecording(std::shared_ptr<Recording> recording);
  uint64_t heardGlobal();

  void mixerMain();
  static std::chrono::steady_clock::duration framesToTime(uint64_t frames, int rate);
  void postSync(SyncEvent event);
  void syncMain();
  void waitUntilNotFiring(DWORD channel);
  void janitorMain();
  void defer(std::function<void()> task);

  std::mutex lifecycleMutex_;  // Init / Free / Start / Stop / volume, never held around callbacks

  // Tables. Never held while calling out of the engine.
  std::mutex mutex_;
  bool initialised_ = false;
  int deviceRate_ = 44100;
  std::unordered_map<DWORD, std::shared_ptr<UrlStream>> streams_;
  std::vector<std::shared_ptr<UrlStream>> playing_;
  DWORD nextHandle_ = 1;
  HSYNC nextSync_ = 1;
  std::atomic<bool> outputStarted_{false};

  // The output and its mixer. Lock order: mixMutex_ before mutex_. The
  // mixer holds mixMutex_ except while it sleeps on wake_.
  std::mutex mixMutex_;
  MixerWake wake_;
  std::unique_ptr<OutputDevice> output_;
  std::thread mixer_;
  bool mixQuit_ = false;
  uint64_t mixedGlobal_ = 0;
  std::atomic<float> volume_{1.0f};
  std::atomic<uint64_t> workNs_{0};
  std::atomic<float> cpuPercent_{0.0f};

  // Capture: the server connection from BASS_RecordInit, and its source
  // (nothing = the default input).
  std::shared_ptr<PulseConnection> recordConnection_;
  std::optional<std::string> recordSource_;
  std::shared_ptr<Recording> recording_;

  // Sync thread.
  std::mutex syncMutex_;
  std::condition_variable syncWake_;
  std::deque<SyncEvent> syncQueue_;
  DWORD firing_ = 0;
  bool syncQuit_ = false;
  std::thread syncThread_;

  // Clean-up thread for frees asked for on engine threads.
  std::mutex janitorMutex_;
  std::condition_variable janitorWake_;
  std::deque<std::function<void()>> janitorQueue_;
  bool janitorQuit_ = false;
  std::thread janitorThread_;
};

}  // namespace kirasol::audio
