#pragma once
// A scripted audio library for player tests: records the calls in order,
// answers file positions and tags from tables, and lets a test fire the
// callbacks the player registered. Thread-safe (the stream worker calls it).

#include "player/playback/audio_library.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kirasol::test {

class FakeAudioLibrary final : public AudioLibrary {
 public:
  struct Positions {
    QWORD end = 0, buffer = 0, connected = 1;
  };
  struct Sync {
    DWORD handle, type;
    SYNCPROC *proc;
    void *user;
  };

  // Script (set before use).
  DWORD version = 0x02041100;
  BOOL initResult = TRUE;
  BOOL recordInitResult = TRUE;
  HRECORD recordHandle = 7;
  int failureCode = BASS_ERROR_FILEOPEN;  // set when StreamCreateURL fails
  bool streamOpens = true;
  std::string statusLine = "ICY 200 OK";  // sent to the download proc before returning
  float cpu = 0.f;
  // The 1024 magnitudes every spectrum fetch gets; none (the fetch fails) if empty.
  std::vector<float> spectrum;

  // --- inspection ---
  std::vector<std::string> calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::vector<std::string> urls() {
    std::lock_guard lock(mutex_);
    return urls_;
  }
  int count(const std::string &name) {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const auto &c : calls_) n += c == name;
    return n;
  }
  std::vector<Sync> syncs() {
    std::lock_guard lock(mutex_);
    return syncs_;
  }
  float lastVolume() {
    std::lock_guard lock(mutex_);
    return volume_;
  }

  // --- script while running ---
  void setPositions(DWORD handle, Positions p) {
    std::lock_guard lock(mutex_);
    positions_[handle] = p;
  }
  // Raw tag bytes; a header block is lines joined by '\0' plus a final '\0'.
  void setTag(DWORD handle, DWORD type, std::string bytes) {
    std::lock_guard lock(mutex_);
    tags_[{handle, type}] = std::move(bytes);
  }
  static std::string headerBlock(const std::vector<std::string> &lines) {
    std::string block;
    for (const auto &l : lines) block += l + '\0';
    block += '\0';
    return block;
  }
  // Holds StreamCreateURL until release() (to keep a worker "opening").
  void holdOpening() {
    std::lock_guard lock(mutex_);
    hold_ = true;
  }
  void release() {
    {
      std::lock_guard lock(mutex_);
      hold_ = false;
    }
    cv_.notify_all();
  }
  bool openingWaiting() {
    std::lock_guard lock(mutex_);
    return waiting_;
  }
  // Runs every sync of that type registered on the handle (from the caller's thread).
  void fireSync(DWORD handle, DWORD type) {
    for (const auto &s : syncs())
      if (s.handle == handle && s.type == type) s.proc(1, handle, 0, s.user);
  }
  DWORD lastStream() {
    std::lock_guard lock(mutex_);
    return nextStream_ - 1;
  }

  // --- the library ---
  DWORD GetVersion() override { return record("GetVersion"), version; }
  int ErrorGetCode() override { return lastError_; }
  BOOL Init(int, DWORD, DWORD, void *, const void *) override {
    record("Init");
    return result(initResult, BASS_ERROR_DEVICE);
  }
  BOOL Free() override { return record("Free"), TRUE; }
  BOOL Start() override { return record("Start"), TRUE; }
  BOOL Stop() override { return record("Stop"), TRUE; }
  BOOL SetVolume(float v) override {
    record("SetVolume");
    std::lock_guard lock(mutex_);
    volume_ = v;
    return TRUE;
  }
  float GetCPU() override { return cpu; }
  BOOL SetConfig(DWORD option, DWORD value) override {
    return record("SetConfig " + std::to_string(option) + "=" + std::to_string(value)), TRUE;
  }
  BOOL SetConfigPtr(DWORD option, const void *value) override {
    return record("SetConfigPtr " + std::to_string(option) + (value ? "=ptr" : "=null")), TRUE;
  }
  HSTREAM StreamCreateURL(const char *url, DWORD, DWORD flags, DOWNLOADPROC *proc, void *user) override {
    record("StreamCreateURL");
    {
      std::unique_lock lock(mutex_);
      urls_.push_back(url);
      flags_ = flags;
      waiting_ = true;
      cv_.wait(lock, [this] { return !hold_; });
      waiting_ = false;
    }
    if (!streamOpens) {
      lastError_ = failureCode;
      return 0;
    }
    std::string block = headerBlock({statusLine});
    proc(block.data(), 0, user);
    std::lock_guard lock(mutex_);
    lastError_ = BASS_OK;
    return nextStream_++;
  }
  BOOL StreamFree(HSTREAM h) override { return record("StreamFree " + std::to_string(h)), TRUE; }
  QWORD StreamGetFilePosition(HSTREAM h, DWORD mode) override {
    std::lock_guard lock(mutex_);
    auto it = positions_.find(h);
    if (it == positions_.end()) {
      lastError_ = BASS_ERROR_HANDLE;
      return static_cast<QWORD>(-1);
    }
    switch (mode) {
      case BASS_FILEPOS_END: return it->second.end;
      case BASS_FILEPOS_BUFFER: return it->second.buffer;
      case BASS_FILEPOS_CONNECTED: return it->second.connected;
      default: return static_cast<QWORD>(-1);
    }
  }
  const char *ChannelGetTags(DWORD h, DWORD type) override {
    std::lock_guard lock(mutex_);
    auto it = tags_.find({h, type});
    return it == tags_.end() ? nullptr : it->second.data();
  }
  HSYNC ChannelSetSync(DWORD h, DWORD type, QWORD param, SYNCPROC *proc, void *user) override {
    record("ChannelSetSync " + std::to_string(h) + " " + std::to_string(type) + " " + std::to_string(param));
    std::lock_guard lock(mutex_);
    syncs_.push_back({h, type, proc, user});
    return static_cast<HSYNC>(syncs_.size());
  }
  BOOL ChannelPlay(DWORD h, BOOL) override { return record("ChannelPlay " + std::to_string(h)), TRUE; }
  DWORD ChannelGetData(DWORD, void *buffer, DWORD length) override {
    std::lock_guard lock(mutex_);
    if (spectrum.empty() || length != BASS_DATA_FFT2048 || buffer == nullptr) return static_cast<DWORD>(-1);
    std::copy(spectrum.begin(), spectrum.end(), static_cast<float *>(buffer));
    return 2048 * 2 * sizeof(float);
  }
  DWORD ChannelIsActive(DWORD) override { return BASS_ACTIVE_PLAYING; }
  BOOL RecordInit(int) override {
    record("RecordInit");
    return result(recordInitResult, BASS_ERROR_DEVICE);
  }
  BOOL RecordFree() override { return record("RecordFree"), TRUE; }
  HRECORD RecordStart(DWORD freq, DWORD chans, DWORD, RECORDPROC *proc, void *user) override {
    record("RecordStart " + std::to_string(freq) + " " + std::to_string(chans));
    if (recordHandle != 0 && proc != nullptr) {
      const short silence[4] = {};
      if (proc(recordHandle, silence, sizeof silence, user) != TRUE) return 0;
    }
    lastError_ = recordHandle ? BASS_OK : BASS_ERROR_DEVICE;
    return recordHandle;
  }

  DWORD streamFlags() {
    std::lock_guard lock(mutex_);
    return flags_;
  }

 private:
  void record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  BOOL result(BOOL ok, int code) {
    lastError_ = ok ? BASS_OK : code;
    return ok;
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  bool hold_ = false, waiting_ = false;
  std::vector<std::string> calls_, urls_;
  std::map<DWORD, Positions> positions_;
  std::map<std::pair<DWORD, DWORD>, std::string> tags_;
  std::vector<Sync> syncs_;
  DWORD nextStream_ = 100;
  DWORD flags_ = 0;
  float volume_ = -1.f;
  static inline thread_local int lastError_ = 0;
};

}  // namespace kirasol::test
