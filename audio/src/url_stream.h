#pragma once
// One internet stream: a download thread (libcurl) that fills the rolling
// download buffer, a decoder thread (libmpg123, feed mode) that turns it into
// stereo frames at the device rate, and the playback state the mixer and the
// FFT read. Metadata cut out of the stream is kept with the audio position it
// belongs to, so it becomes current when that audio is heard.

#include "bass.h"
#include "download_buffer.h"
#include "net_config.h"
#include "output_device.h"
#include "pcm_queue.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kirasol::audio {

struct SyncEntry {
  HSYNC handle;
  DWORD type;
  SYNCPROC *proc;
  void *user;
};

struct StreamRequest {
  std::string url;
  DWORD flags = 0;
  DOWNLOADPROC *proc = nullptr;
  void *user = nullptr;
  NetConfig net;
  int deviceRate = 44100;
};

class UrlStream {
 public:
  // Mixed audio kept for the spectrum; must cover the mix lead plus the
  // device latency (about 1.5 s at 44.1 kHz).
  static constexpr size_t kHistoryFrames = 65536;

  UrlStream(HSTREAM handle, StreamRequest request, std::atomic<uint64_t> &workNs, MixerWake &mixerWake);
  ~UrlStream();
  UrlStream(const UrlStream &) = delete;
  UrlStream &operator=(const UrlStream &) = delete;

  // Connects and waits as BASS_StreamCreateURL does; BASS_OK or an error code.
  // After a failure the threads have ended and no callback will come.
  int open();
  // Stops the transfer and wakes every thread of the stream; safe anywhere.
  void cancel();
  // Waits for the stream's threads; never call it on one of them.
  void join();

  HSTREAM handle() const { return handle_; }
  bool autoFree() const { return (request_.flags & BASS_STREAM_AUTOFREE) != 0; }

  // File positions.
  uint64_t bufferSize() const { return bufferSize_; }
  uint64_t bufferHeld() const;
  uint64_t downloadedBytes() const;
  uint64_t decodedBytes() const;
  bool connected() const { return connected_.load(); }

  // Tags: pointers owned by the stream (null when absent).
  const char *icyTags() const;
  const char *httpTags() const;
  const char *metaTag() const;
  void makeMetaCurrent(std::string text);

  HSYNC addSync(HSYNC handle, DWORD type, SYNCPROC *proc, void *user);
  std::vector<SyncEntry> syncsOfType(DWORD type) const;

  // Playback, driven by the mixer thread.
  std::atomic<bool> playing{false};
  std::atomic<bool> ended{false};  // the end has been heard (END posted)
  // Adds up to `frames` frames into `mix` (interleaved stereo); `globalStart`
  // is the output frame number where the chunk begins. Returns frames added.
  // `late` is set when the decoder is merely behind (its input is there but
  // not yet decoded): then nothing is taken, and the decoder wakes the mixer
  // as soon as it delivers, so that no silence is put between the pieces.
  size_t mixInto(float *mix, size_t frames, uint64_t globalStart, bool &late);
  // The stream frame being heard when the output has played `heardGlobal`.
  uint64_t heardFrame(uint64_t heardGlobal) const;
  // The newest metadata whose audio has been reached by `heard`, if any.
  std::optional<std::string> takeHeardMeta(uint64_t heard);
  // Everything decoded has been mixed and heard.
  bool finishedAt(uint64_t heard) const;
  // The output frame at which the next title or the end will be heard, when
  // that audio has been mixed already.
  std::optional<uint64_t> nextEventGlobal() const;
  // BASS_ACTIVE_* for a playing stream when the output has played
  // `heardGlobal` frames: STALLED from the point where a stall began being
  // heard until the audio after it is.
  DWORD activity(uint64_t heardGlobal) const;
  // Copies the mono samples just before `heard` (up to `count`, newest last).
  // `first` receives the frame number of the first one: the same first frame
  // and count always mean the same samples.
  size_t recentMono(uint64_t heard, float *out, size_t count, uint64_t *first = nullptr) const;

 private:
  enum class OpenState { Connecting, Ready, Failed };
  struct Attempt;

  void downloadMain();
  int transfer(const std::string &url, bool allowPlaylist, std::string *playlistBody);
  void becomeReady(Attempt &a, size_t frameOffset, int frameKbps);
  void batchReads(Attempt &a);
  bool deliver(const uint8_t *data, size_t size);
  void finishOpen(OpenState state, int error);
  bool readTimedOut(Attempt &a);
  void decodeMain();
  // Underrun rules, mixer thread.
  bool runDry() const;
  bool mayResume() const;
  // Wakes the mixer when a stalled stream may have something again.
  void nudgeMixer();
  static int mapCurlError(int curlCode);

  static size_t onHeader(char *data, size_t size, size_t count, void *attempt);
  static size_t onBody(char *data, size_t size, size_t count, void *attempt);
  static int onProgress(void *attempt, long long, long long, long long, long long);

  const HSTREAM handle_;
  const StreamRequest request_;
  std::atomic<uint64_t> &workNs_;
  MixerWake &mixerWake_;
  std::atomic<bool> cancelled_{false};
  std::atomic<uint64_t> decoderInput_{0};  // bytes fed to the decoder and not yet decoded
  std::atomic<bool> waiting_{false};  // stalled or late: the download and decoder threads wake the mixer

  // Open handshake between the caller and the download thread.
  mutable std::mutex openMutex_;
  std::condition_variable openChanged_;
  OpenState openState_ = OpenState::Connecting;
  int openError_ = BASS_OK;
  bool downloadEnded_ = false;

  // The transfer's multi handle, so cancel() can wake a waiting poll.
  std::mutex multiMutex_;
  void *multi_ = nullptr;

  std::atomic<bool> connected_{false};
  std::atomic<uint64_t> bufferSize_{0};
  std::atomic<uint64_t> byteRate_{16000};  // audio bytes per second, for the underrun rule
  std::unique_ptr<DownloadBuffer> buffer_;  // set once by becomeReady, before Ready
  std::atomic<bool> bufferReady_{false};
  PcmQueue pcm_;
  std::thread downloadThread_;
  std::thread decodeThread_;

  // Tags and syncs.
  mutable std::mutex tagMutex_;
  std::string icyBlock_;
  std::string httpBlock_;
  bool hasIcy_ = false;
  bool hasHttp_ = false;
  std::shared_ptr<std::string> meta_;
  std::deque<std::shared_ptr<std::string>> retiredMeta_;  // keeps recent pointers readable
  std::vector<SyncEntry> syncs_;

  // Decoder → mixer bookkeeping.
  mutable std::mutex playMutex_;
  struct TimedMeta {
    uint64_t frame;
    std::string text;
  };
  std::deque<TimedMeta> pendingMeta_;
  size_t pendingMetaBytes_ = 0;
  uint64_t decodedFrames_ = 0;
  bool decodeFinished_ = false;
  uint64_t mixedFrames_ = 0;
  // Underrun: while stalled nothing is mixed. The output frames where the
  // latest stall began and where the audio after it was mixed.
  bool mixedOnce_ = false;  // the mixer has taken (or tried to take) audio
  size_t fadeInLeft_;       // frames still to ramp up after silence
  bool stalled_ = false;
  uint64_t stallGlobal_ = UINT64_MAX;
  uint64_t resumeGlobal_ = 0;
  struct MixSpan {
    uint64_t global;
    uint64_t frame;
    uint64_t count;
  };
  std::deque<MixSpan> spans_;
  std::vector<float> history_ = std::vector<float>(kHistoryFrames);  // mono, indexed by frame % size
  std::vector<float> scratch_;  // mixer thread only
};

}  // namespace kirasol::audio
