#include "url_stream.h"

#include "error_state.h"
#include "http_headers.h"
#include "icy_demuxer.h"
#include "mp3_frame.h"
#include "station_playlist.h"
#include "resampler.h"

#include <curl/curl.h>
#include <mpg123.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <string_view>

namespace kirasol::audio {
namespace {

constexpr int kPlaylistFound = -100;
constexpr int kCancelled = -101;
constexpr size_t kMaxSniffBytes = 64 * 1024;      // audio must show a frame within this
constexpr size_t kMaxPlaylistBytes = 256 * 1024;
constexpr size_t kMinBufferBytes = 4096;
constexpr size_t kPcmQueueFrames = 22050;         // about half a second decoded ahead
// Where the audio stops or comes back in the middle of a wave (the first
// audio, an underrun, the end) it is ramped over this many frames (6 ms at
// 44.1 kHz): a cut from full level to silence is heard as a click.
constexpr size_t kFadeFrames = 256;
constexpr size_t kRetiredMetaKept = 16;
constexpr size_t kSpansKept = 512;

using Clock = std::chrono::steady_clock;

std::optional<uint32_t> parseUnsigned(const std::optional<std::string> &text) {
  if (!text || text->empty()) return std::nullopt;
  uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (ec != std::errc()) return std::nullopt;
  return value;
}

struct CurlGlobal {
  CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

void ensureCurlGlobal() { static CurlGlobal once; }

// A response that names a format the engine cannot decode, by its type or its
// first bytes: refused at once rather than after 64 KB of searching for an
// MP3 frame (which a slow station may not even send within the timeout).
bool namesAnotherFormat(std::string_view contentType, std::string_view bodyStart) {
  std::string type(contentType.substr(0, contentType.find(';')));
  std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  while (!type.empty() && type.back() == ' ') type.pop_back();
  static constexpr std::string_view kOther[] = {
      "audio/aac", "audio/aacp", "audio/x-aac", "audio/mp4", "audio/x-m4a", "audio/ogg", "application/ogg",
      "video/ogg", "audio/opus", "audio/flac", "audio/x-flac", "audio/webm", "video/webm"};
  if (std::find(std::begin(kOther), std::end(kOther), type) != std::end(kOther)) return true;
  return bodyStart.starts_with("OggS") || bodyStart.starts_with("fLaC");
}

}  // namespace

// State of one HTTP exchange (one address; redirects included).
struct UrlStream::Attempt {
  UrlStream *stream = nullptr;
  std::string url;
  bool allowPlaylist = false;
  std::string *playlistBody = nullptr;
  std::vector<std::string> lines;
  bool inBlock = false;
  bool finalHeaders = false;
  bool headersPublished = false;
  int error = BASS_OK;
  enum class Mode { Undecided, Playlist, Audio } mode = Mode::Undecided;
  std::string contentType;
  std::optional<uint32_t> icyBr;
  std::unique_ptr<IcyDemuxer> demux;
  std::vector<uint8_t> pending;        // audio before the first frame is found
  std::vector<MetaMarker> pendingMarkers;
  void *easy = nullptr;
  std::vector<curl_socket_t> sockets;  // open now; curl reports neither in a write callback
  uint32_t kbps = 0;                   // set when the audio starts
  bool batchedReads = false;  // the socket's wake-up threshold is set
  Clock::time_point lastByte = Clock::now();  // for NET_READTIMEOUT
};

UrlStream::UrlStream(HSTREAM handle, StreamRequest request, std::atomic<uint64_t> &workNs, MixerWake &mixerWake)
    : handle_(handle), request_(std::move(request)), workNs_(workNs), mixerWake_(mixerWake), pcm_(kPcmQueueFrames), fadeInLeft_(kFadeFrames) {}

UrlStream::~UrlStream() {
  cancel();
  for (auto *t : {&downloadThread_, &decodeThread_}) {
    if (!t->joinable()) continue;
    if (t->get_id() == std::this_thread::get_id())
      t->detach();
    else
      t->join();
  }
}

int UrlStream::open() {
  ensureCurlGlobal();
  downloadThread_ = std::thread([this] { downloadMain(); });
  std::unique_lock lock(openMutex_);
  const auto deadline = Clock::now() + std::chrono::milliseconds(request_.net.timeoutMs);
  if (!openChanged_.wait_until(lock, deadline, [&] { return openState_ != OpenState::Connecting; })) {
    openState_ = OpenState::Failed;
    openError_ = BASS_ERROR_TIMEOUT;
  }
  if (openState_ == OpenState::Failed) {
    const int error = openError_;
    lock.unlock();
    cancel();
    join();
    return error;
  }
  // Ready. Optionally wait until the buffer is filled far enough, giving up
  // when nothing arrives for the connection timeout.
  if (request_.net.prebufPercent > 0) {
    const uint64_t target = bufferSize_ * std::min<uint32_t>(request_.net.prebufPercent, 100) / 100;
    uint64_t lastWritten = buffer_->written();
    auto lastProgress = Clock::now();
    while (!downloadEnded_ && !cancelled_ && buffer_->held() < target) {
      openChanged_.wait_for(lock, std::chrono::milliseconds(20));
      const uint64_t written = buffer_->written();
      if (written != lastWritten) {
        lastWritten = written;
        lastProgress = Clock::now();
      } else if (Clock::now() - lastProgress > std::chrono::milliseconds(request_.net.timeoutMs)) {
        break;
      }
    }
  }
  return BASS_OK;
}

void UrlStream::cancel() {
  cancelled_ = true;
  {
    std::lock_guard lock(multiMutex_);
    if (multi_) curl_multi_wakeup(static_cast<CURLM *>(multi_));
  }
  if (bufferReady_) buffer_->cancel();
  pcm_.cancel();
  std::lock_guard lock(openMutex_);
  openChanged_.notify_all();
}

void UrlStream::join() {
  if (downloadThread_.joinable()) downloadThread_.join();
  if (decodeThread_.joinable()) decodeThread_.join();
}

// What waits to be heard, in the station's bytes: the download buffer and
// the audio already decoded from it but not yet mixed. A player that waits
// for a level before it plays must see both, or the decoder working ahead
// would hold the start back.
// The decoder's share is the input fed to it and not yet decoded (up to a
// chunk while its output queue is full) plus its decoded output.
uint64_t UrlStream::bufferHeld() const {
  if (!bufferReady_) return 0;
  const uint64_t decoded = uint64_t(pcm_.frames()) * byteRate_ / uint64_t(request_.deviceRate);
  return std::min<uint64_t>(buffer_->held() + decoderInput_.load() + decoded, bufferSize_);
}
uint64_t UrlStream::downloadedBytes() const { return bufferReady_ ? buffer_->written() : 0; }
uint64_t UrlStream::decodedBytes() const { return bufferReady_ ? buffer_->read() : 0; }

const char *UrlStream::icyTags() const {
  std::lock_guard lock(tagMutex_);
  return hasIcy_ ? icyBlock_.data() : nullptr;
}

const char *UrlStream::httpTags() const {
  std::lock_guard lock(tagMutex_);
  return hasHttp_ ? httpBlock_.data() : nullptr;
}

const char *UrlStream::metaTag() const {
  std::lock_guard lock(tagMutex_);
  return meta_ ? meta_->c_str() : nullptr;
}

void UrlStream::makeMetaCurrent(std::string text) {
  std::lock_guard lock(tagMutex_);
  // A caller may still be reading the previous text; keep a few of them.
  if (meta_) retiredMeta_.push_back(std::move(meta_));
  while (retiredMeta_.size() > kRetiredMetaKept) retiredMeta_.pop_front();
  meta_ = std::make_shared<std::string>(std::move(text));
}

HSYNC UrlStream::addSync(HSYNC handle, DWORD type, SYNCPROC *proc, void *user) {
  std::lock_guard lock(tagMutex_);
  syncs_.push_back(SyncEntry{handle, type, proc, user});
  return handle;
}

std::vector<SyncEntry> UrlStream::syncsOfType(DWORD type) const {
  std::lock_guard lock(tagMutex_);
  std::vector<SyncEntry> found;
  for (const auto &s : syncs_)
    if ((s.type & ~DWORD(BASS_SYNC_MIXTIME)) == type) found.push_back(s);
  return found;
}

// ---- download thread -------------------------------------------------------

void UrlStream::finishOpen(OpenState state, int error) {
  std::lock_guard lock(openMutex_);
  if (openState_ == OpenState::Connecting) {
    openState_ = state;
    openError_ = error;
  }
  openChanged_.notify_all();
}

void UrlStream::downloadMain() {
  markEngineThread();
  std::string playlist;
  int result = transfer(request_.url, request_.net.playlist >= 1, &playlist);
  if (result == kPlaylistFound && !cancelled_) {
    // With no playable entry, the last entry's failure says why (a list of
    // one AAC stream is a format the engine cannot play, not a dead server).
    result = BASS_ERROR_FILEOPEN;
    for (const auto &entry : parsePlaylist(playlist, request_.url)) {
      if (cancelled_) break;
      const int entryResult = transfer(entry, false, nullptr);
      if (bufferReady_) break;
      if (entryResult != kCancelled && entryResult != kPlaylistFound) result = entryResult;
    }
  }
  if (bufferReady_) {
    buffer_->finish();
    connected_ = false;
    nudgeMixer();
    if (request_.proc && !cancelled_) request_.proc(nullptr, 0, request_.user);
  } else {
    connected_ = false;
    if (result == kPlaylistFound || result == BASS_OK) result = BASS_ERROR_FILEOPEN;
    finishOpen(OpenState::Failed, result == kCancelled ? BASS_ERROR_TIMEOUT : result);
  }
  std::lock_guard lock(openMutex_);
  downloadEnded_ = true;
  openChanged_.notify_all();
}

int UrlStream::transfer(const std::string &url, bool allowPlaylist, std::string *playlistBody) {
  Attempt a;
  a.stream = this;
  a.url = url;
  a.allowPlaylist = allowPlaylist;
  a.playlistBody = playlistBody;
  CURL *easy = curl_easy_init();
  CURLM *multi = curl_multi_init();
  if (!easy || !multi) {
    if (easy) curl_easy_cleanup(easy);
    if (multi) curl_multi_cleanup(multi);
    return BASS_ERROR_MEM;
  }
  a.easy = easy;
  // Shoutcast answers "ICY 200 OK", which curl would otherwise take for HTTP/0.9.
  curl_slist *aliases = curl_slist_append(nullptr, "ICY 200 OK");
  curl_slist *headers = curl_slist_append(nullptr, "Icy-MetaData:1");
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTP200ALIASES, aliases);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(std::max<uint32_t>(request_.net.timeoutMs, 1)));
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  if (request_.net.agent) curl_easy_setopt(easy, CURLOPT_USERAGENT, request_.net.agent->c_str());
  // An empty proxy also stops curl from taking one from the environment.
  curl_easy_setopt(easy, CURLOPT_PROXY, request_.net.proxy ? request_.net.proxy->c_str() : "");
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &UrlStream::onHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &a);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &UrlStream::onBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &a);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &UrlStream::onProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &a);
  // Which sockets are open, for batchReads().
  curl_sockopt_callback opened = [](void *attempt, curl_socket_t socket, curlsocktype) {
    static_cast<Attempt *>(attempt)->sockets.push_back(socket);
    return int(CURL_SOCKOPT_OK);
  };
  curl_closesocket_callback closing = [](void *attempt, curl_socket_t socket) {
    std::erase(static_cast<Attempt *>(attempt)->sockets, socket);
    return close(socket);
  };
  curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, opened);
  curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, &a);
  curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, closing);
  curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, &a);
  curl_multi_add_handle(multi, easy);
  {
    std::lock_guard lock(multiMutex_);
    multi_ = multi;
  }

  CURLcode result = CURLE_OK;
  int running = 1;
  while (!cancelled_) {
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      result = CURLE_FAILED_INIT;
      break;
    }
    if (running == 0) break;
    if (readTimedOut(a)) break;  // the download ends as if the server had closed
    int waitMs = 1000;
    if (const uint32_t limit = request_.net.readTimeoutMs) {
      const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - a.lastByte).count();
      waitMs = int(std::clamp<long long>(limit - idle + 1, 1, 1000));
    }
    curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
  }
  int queued = 0;
  while (CURLMsg *msg = curl_multi_info_read(multi, &queued))
    if (msg->msg == CURLMSG_DONE) result = msg->data.result;

  {
    std::lock_guard lock(multiMutex_);
    multi_ = nullptr;
  }
  curl_multi_remove_handle(multi, easy);
  curl_multi_cleanup(multi);
  curl_easy_cleanup(easy);
  curl_slist_free_all(aliases);
  curl_slist_free_all(headers);

  if (cancelled_) return kCancelled;
  if (a.error != BASS_OK) return a.error;
  if (a.mode == Attempt::Mode::Playlist) return kPlaylistFound;
  if (bufferReady_) return BASS_OK;
  if (result == CURLE_OK) {
    // The whole body has arrived: a very short stream is still a stream.
    if (auto sync = findFirstMp3Frame(a.pending.data(), a.pending.size(), true)) {
      becomeReady(a, sync->offset, sync->info.bitrateKbps);
      return BASS_OK;
    }
    return BASS_ERROR_FILEFORM;
  }
  return mapCurlError(result);
}

// NET_READTIMEOUT: no byte on the open connection for that long. Bytes the
// socket holds back below its wake-up threshold (batchReads) did arrive: then
// the station is merely slow, and the socket goes back to waking for every
// byte.
bool UrlStream::readTimedOut(Attempt &a) {
  const uint32_t limit = request_.net.readTimeoutMs;
  if (limit == 0 || Clock::now() - a.lastByte < std::chrono::milliseconds(limit)) return false;
  for (const curl_socket_t socket : a.sockets) {
    int pending = 0;
    if (ioctl(socket, FIONREAD, &pending) == 0 && pending > 0) {
      const int one = 1;
      setsockopt(socket, SOL_SOCKET, SO_RCVLOWAT, &one, sizeof one);
      a.lastByte = Clock::now();
      return false;
    }
  }
  return true;
}

int UrlStream::mapCurlError(int curlCode) {
  // The address's own scheme was checked before connecting, so an
  // unsupported protocol here is a server's doing (an ICY error line taken
  // for HTTP/0.9, a redirect to ftp://): the stream cannot be opened.
  switch (CURLcode(curlCode)) {
    case CURLE_URL_MALFORMAT:
      return BASS_ERROR_ILLPARAM;
    case CURLE_OPERATION_TIMEDOUT:
      return BASS_ERROR_TIMEOUT;
    case CURLE_OUT_OF_MEMORY:
      return BASS_ERROR_MEM;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_USE_SSL_FAILED:
      return BASS_ERROR_SSL;
    default:
      return BASS_ERROR_FILEOPEN;
  }
}

size_t UrlStream::onHeader(char *data, size_t size, size_t count, void *attempt) {
  auto &a = *static_cast<Attempt *>(attempt);
  const size_t n = size * count;
  if (a.stream->cancelled_) return 0;
  a.lastByte = Clock::now();
  std::string line = trimLineEnd(std::string_view(data, n));
  if (!a.inBlock) {
    if (line.empty()) return n;
    a.lines.assign(1, std::move(line));
    a.inBlock = true;
    return n;
  }
  if (!line.empty()) {
    a.lines.push_back(std::move(line));
    return n;
  }
  a.inBlock = false;
  const int code = statusCodeOf(a.lines.front()).value_or(0);
  if (code >= 100 && code < 200) return n;
  if (code >= 300 && code < 400 && headerValue(a.lines, "location")) return n;  // curl follows it
  a.finalHeaders = true;
  a.contentType = headerValue(a.lines, "content-type").value_or("");
  a.icyBr = parseUnsigned(headerValue(a.lines, "icy-br"));
  if (code < 200 || code >= 300) {
    // Show the server's answer to a status listener, then give up.
    const std::string block = tagBlock(a.lines);
    const auto &req = a.stream->request_;
    if ((req.flags & BASS_STREAM_STATUS) && req.proc) req.proc(block.data(), 0, req.user);
    a.error = BASS_ERROR_FILEOPEN;
    return 0;
  }
  const uint32_t metaint = parseUnsigned(headerValue(a.lines, "icy-metaint")).value_or(0);
  UrlStream *s = a.stream;
  a.demux = std::make_unique<IcyDemuxer>(
      metaint,
      [&a, s](const uint8_t *p, size_t len) {
        if (a.error != BASS_OK || s->cancelled_) return;
        if (s->bufferReady_) {
          if (!s->deliver(p, len)) a.error = kCancelled;
          return;
        }
        a.pending.insert(a.pending.end(), p, p + len);
        if (auto sync = findFirstMp3Frame(a.pending.data(), a.pending.size(), false)) {
          s->becomeReady(a, sync->offset, sync->info.bitrateKbps);
        } else if (a.pending.size() > kMaxSniffBytes) {
          a.error = BASS_ERROR_FILEFORM;
        }
      },
      [&a, s](uint64_t pos, std::string text) {
        if (s->bufferReady_)
          s->buffer_->addMarker(MetaMarker{pos, std::move(text)});
        else
          a.pendingMarkers.push_back(MetaMarker{pos, std::move(text)});
      });
  return n;
}

size_t UrlStream::onBody(char *data, size_t size, size_t count, void *attempt) {
  auto &a = *static_cast<Attempt *>(attempt);
  const size_t n = size * count;
  UrlStream *s = a.stream;
  if (s->cancelled_ || a.error != BASS_OK) return 0;
  if (!a.finalHeaders || !a.demux) {
    a.error = BASS_ERROR_FILEFORM;  // a body without a usable response head
    return 0;
  }
  if (a.mode == Attempt::Mode::Undecided) {
    const std::string_view start(data, std::min<size_t>(n, 64));
    if (a.allowPlaylist && a.playlistBody && looksLikePlaylist(a.url, a.contentType, start)) {
      a.mode = Attempt::Mode::Playlist;
    } else {
      a.mode = Attempt::Mode::Audio;
      // This response carries the stream: its head becomes the ICY or HTTP tag.
      const std::string block = tagBlock(a.lines);
      const HeaderKind kind = headerKindOf(a.lines.front());
      {
        std::lock_guard lock(s->tagMutex_);
        s->hasIcy_ = kind == HeaderKind::Icy;
        s->hasHttp_ = kind == HeaderKind::Http;
        s->icyBlock_ = s->hasIcy_ ? block : std::string();
        s->httpBlock_ = s->hasHttp_ ? block : std::string();
      }
      const auto &req = s->request_;
      if ((req.flags & BASS_STREAM_STATUS) && req.proc) req.proc(block.data(), 0, req.user);
      if (namesAnotherFormat(a.contentType, start)) {
        a.error = BASS_ERROR_FILEFORM;
        return 0;
      }
    }
  }
  if (a.mode == Attempt::Mode::Playlist) {
    if (a.playlistBody->size() + n > kMaxPlaylistBytes) {
      a.error = BASS_ERROR_FILEFORM;
      return 0;
    }
    a.playlistBody->append(data, n);
    return n;
  }
  a.demux->feed(reinterpret_cast<const uint8_t *>(data), n);
  a.lastByte = Clock::now();  // after any wait for room in the buffer
  if (s->bufferReady_ && !a.batchedReads) s->batchReads(a);
  return (a.error != BASS_OK || s->cancelled_) ? 0 : n;
}

// A station sends its audio in many small packets, and each would wake this
// thread. Once the audio flows, let the socket report readable only when about
// a quarter of a second has gathered. Only where the body ends with the
// connection (HTTP/1 or ICY, no length, not chunked): the closing wakes the
// socket whatever the threshold, so the last bytes are never held back.
void UrlStream::batchReads(Attempt &a) {
  a.batchedReads = true;
  long version = 0;
  if (curl_easy_getinfo(static_cast<CURL *>(a.easy), CURLINFO_HTTP_VERSION, &version) != CURLE_OK ||
      version >= CURL_HTTP_VERSION_2_0)
    return;
  if (a.sockets.size() != 1) return;  // which one carries the body is not known
  curl_off_t length = -1;
  if (curl_easy_getinfo(static_cast<CURL *>(a.easy), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
      length >= 0)
    return;
  const auto encoding = headerValue(a.lines, "transfer-encoding");
  if (encoding && !encoding->empty()) return;
  const int bytes = int(std::clamp<uint32_t>(a.kbps * 1000 / 8 / 4, 512, 16384));
  setsockopt(a.sockets.front(), SOL_SOCKET, SO_RCVLOWAT, &bytes, sizeof bytes);
}

int UrlStream::onProgress(void *attempt, long long, long long, long long, long long) {
  return static_cast<Attempt *>(attempt)->stream->cancelled_ ? 1 : 0;
}

void UrlStream::becomeReady(Attempt &a, size_t, int frameKbps) {
  // The station's announced rate is steadier than one frame's (a VBR stream
  // may open with a small frame).
  uint32_t kbps = a.icyBr && *a.icyBr >= 8 && *a.icyBr <= 640 ? *a.icyBr : uint32_t(frameKbps);
  a.kbps = frameKbps > 0 ? std::min(kbps, uint32_t(frameKbps)) : kbps;
  const uint64_t size = std::max<uint64_t>(uint64_t(kbps) * request_.net.bufferMs / 8, kMinBufferBytes);
  buffer_ = std::make_unique<DownloadBuffer>(size_t(size));
  bufferSize_ = size;
  byteRate_ = std::max<uint64_t>(uint64_t(kbps) * 1000 / 8, 1);
  for (auto &m : a.pendingMarkers) buffer_->addMarker(std::move(m));
  a.pendingMarkers.clear();
  bufferReady_ = true;
  if (cancelled_) buffer_->cancel();
  connected_ = true;
  decodeThread_ = std::thread([this] { decodeMain(); });
  std::vector<uint8_t> pending = std::move(a.pending);
  a.pending.clear();
  if (!deliver(pending.data(), pending.size())) a.error = kCancelled;
  finishOpen(OpenState::Ready, BASS_OK);
}

bool UrlStream::deliver(const uint8_t *data, size_t size) {
  if (size == 0) return true;
  if (request_.proc) request_.proc(data, DWORD(size), request_.user);
  const bool written = buffer_->write(data, size);
  nudgeMixer();
  return written;
}

void UrlStream::nudgeMixer() {
  if (waiting_.load(std::memory_order_relaxed)) mixerWake_.bump();
}

// ---- decoder thread --------------------------------------------------------

void UrlStream::decodeMain() {
  markEngineThread();
  int err = MPG123_OK;
  mpg123_handle *mh = mpg123_new(nullptr, &err);
  if (!mh) {
    pcm_.finish();
    std::lock_guard lock(playMutex_);
    decodeFinished_ = true;
    return;
  }
  mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_FORCE_STEREO, 0);
  mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
  mpg123_param(mh, MPG123_RESYNC_LIMIT, -1, 0);  // skip garbage of any length
  mpg123_format_none(mh);
  const long *rates = nullptr;
  size_t rateCount = 0;
  mpg123_rates(&rates, &rateCount);
  for (size_t i = 0; i < rateCount; ++i) mpg123_format(mh, rates[i], MPG123_STEREO, MPG123_ENC_FLOAT_32);
  mpg123_open_feed(mh);

  std::vector<uint8_t> input(8192);
  std::vector<float> converted;
  std::unique_ptr<StereoResampler> resampler;

  auto noteDecoderInput = [&] {
    long fill = 0;
    double fillAsDouble = 0;
    if (mpg123_getstate(mh, MPG123_BUFFERFILL, &fill, &fillAsDouble) == MPG123_OK && fill >= 0)
      decoderInput_ = uint64_t(fill);
  };
  // Decodes every complete frame fed so far; false when cancelled.
  auto drain = [&]() -> bool {
    for (;;) {
      off_t frameNumber = 0;
      unsigned char *audio = nullptr;
      size_t bytes = 0;
      const auto t0 = Clock::now();
      const int r = mpg123_decode_frame(mh, &frameNumber, &audio, &bytes);
      noteDecoderInput();
      if (r == MPG123_NEW_FORMAT) {
        long rate = 0;
        int channels = 0, encoding = 0;
        mpg123_getformat(mh, &rate, &channels, &encoding);
        resampler = std::make_unique<StereoResampler>(int(rate), request_.deviceRate);
        continue;
      }
      if (r != MPG123_OK) return true;  // needs more input, or resynchronising on bad data
      if (bytes == 0 || !resampler) continue;
      converted.clear();
      resampler->process(reinterpret_cast<const float *>(audio), bytes / (2 * sizeof(float)), converted);
      workNs_ += uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count());
      const size_t frames = converted.size() / 2;
      if (!pcm_.push(converted.data(), frames)) return false;
      {
        std::lock_guard lock(playMutex_);
        decodedFrames_ += frames;
      }
      nudgeMixer();
    }
  };
  auto noteMarkers = [&](uint64_t upTo) {
    auto reached = buffer_->markersUpTo(upTo);
    if (reached.empty()) return;
    std::lock_guard lock(playMutex_);
    for (auto &m : reached) {
      // Titles that would be heard at the same frame: only the last counts.
      // Over the budget the newest waiting one gives way, as in the buffer.
      while (!pendingMeta_.empty() && (pendingMeta_.back().frame == decodedFrames_ ||
                                       pendingMetaBytes_ + m.text.size() > DownloadBuffer::kMarkerBudget)) {
        pendingMetaBytes_ -= pendingMeta_.back().text.size();
        pendingMeta_.pop_back();
      }
      pendingMetaBytes_ += m.text.size();
      pendingMeta_.push_back(TimedMeta{decodedFrames_, std::move(m.text)});
    }
  };

  // Only this thread moves the read position, so `start` is where the bytes
  // take() returns begin. take() never crosses a marker; a marker added while
  // it waited sits exactly at `start` and belongs before these bytes.
  for (;;) {
    const uint64_t start = buffer_->read();
    const size_t n = buffer_->take(input.data(), input.size());
    noteMarkers(start);
    if (n == 0) break;
    mpg123_feed(mh, input.data(), n);
    noteDecoderInput();
    if (!drain()) break;
    noteMarkers(start + n);
  }
  mpg123_delete(mh);
  pcm_.finish();
  {
    std::lock_guard lock(playMutex_);
    decodeFinished_ = true;
  }
  nudgeMixer();
}

// ---- mixer side ------------------------------------------------------------

size_t UrlStream::mixInto(float *mix, size_t frames, uint64_t globalStart, bool &late) {
  {
    std::lock_guard lock(playMutex_);
    if (stalled_) {
      if (!mayResume()) return 0;
      stalled_ = false;
      waiting_ = false;
      resumeGlobal_ = globalStart;
      fadeInLeft_ = kFadeFrames;
    } else if (mixedFrames_ > 0 && pcm_.frames() < frames && !decodeFinished_ && !runDry()) {
      // Typically right after the start, when playing begins before the
      // decoder has caught up with the first burst: a few milliseconds'
      // wait, where a chunk of silence would be a gap the listener hears.
      late = true;
      waiting_ = true;
      return 0;
    }
    waiting_ = false;
  }
  scratch_.resize(frames * 2);
  const size_t n = pcm_.pop(scratch_.data(), frames);
  std::lock_guard lock(playMutex_);
  mixedOnce_ = true;
  for (size_t i = 0; i < n && fadeInLeft_ > 0; ++i, --fadeInLeft_) {
    const float gain = float(kFadeFrames - fadeInLeft_) / float(kFadeFrames);
    scratch_[2 * i] *= gain;
    scratch_[2 * i + 1] *= gain;
  }
  if (n < frames) {
    // Silence follows this chunk: the end, an underrun or a start that
    // waits for more.
    const size_t ramp = std::min(n, kFadeFrames);
    for (size_t j = 0; j < ramp; ++j) {
      const float gain = float(ramp - j - 1) / float(ramp);
      scratch_[2 * (n - ramp + j)] *= gain;
      scratch_[2 * (n - ramp + j) + 1] *= gain;
    }
    fadeInLeft_ = kFadeFrames;
  }
  for (size_t i = 0; i < n; ++i) {
    const float l = scratch_[2 * i];
    const float r = scratch_[2 * i + 1];
    mix[2 * i] += l;
    mix[2 * i + 1] += r;
    history_[(mixedFrames_ + i) % kHistoryFrames] = 0.5f * (l + r);
  }
  if (n > 0) {
    spans_.push_back(MixSpan{globalStart, mixedFrames_, n});
    while (spans_.size() > kSpansKept) spans_.pop_front();
  }
  mixedFrames_ += n;
  if (n < frames && !decodeFinished_ && (mixedFrames_ == 0 || runDry())) {
    // Rather than play whatever trickles in, in fragments, wait for a
    // proper buffer again.
    stalled_ = true;
    waiting_ = true;
    stallGlobal_ = globalStart + n;
  }
  return n;
}

// The decoder has nothing left to work on while the connection is open: less
// than a tenth of a second of audio waits in the download buffer. (With more
// there, the decoder is only late, and re-buffering would not help.)
bool UrlStream::runDry() const {
  return connected_ && buffer_->held() < byteRate_ / 10;
}

// Caller holds playMutex_. At the start any audio will do (the caller chose
// when to start); after an underrun, 75 % of the buffer, the level at which
// the player itself starts a stream, or the end of the download.
bool UrlStream::mayResume() const {
  if (mixedFrames_ == 0) return pcm_.frames() > 0 || decodeFinished_;
  return !connected_ || decodeFinished_ || bufferHeld() * 4 >= bufferSize_ * 3;
}

std::optional<uint64_t> UrlStream::nextEventGlobal() const {
  std::lock_guard lock(playMutex_);
  uint64_t frame = 0;
  if (!pendingMeta_.empty())
    frame = pendingMeta_.front().frame;
  else if (decodeFinished_ && pcm_.frames() == 0)
    frame = mixedFrames_;  // the end
  else
    return std::nullopt;
  for (auto it = spans_.rbegin(); it != spans_.rend(); ++it)
    if (it->frame <= frame && frame <= it->frame + it->count) return it->global + (frame - it->frame);
  return std::nullopt;
}

DWORD UrlStream::activity(uint64_t heardGlobal) const {
  if (!playing || ended) return BASS_ACTIVE_STOPPED;
  std::lock_guard lock(playMutex_);
  if (mixedFrames_ == 0) return BASS_ACTIVE_STALLED;
  if (heardGlobal >= stallGlobal_ && (stalled_ || heardGlobal < resumeGlobal_)) return BASS_ACTIVE_STALLED;
  return BASS_ACTIVE_PLAYING;
}

uint64_t UrlStream::heardFrame(uint64_t heardGlobal) const {
  std::lock_guard lock(playMutex_);
  for (auto it = spans_.rbegin(); it != spans_.rend(); ++it)
    if (it->global <= heardGlobal) return it->frame + std::min(heardGlobal - it->global, it->count);
  return spans_.empty() ? 0 : spans_.front().frame;
}

std::optional<std::string> UrlStream::takeHeardMeta(uint64_t heard) {
  std::lock_guard lock(playMutex_);
  // Of the titles reached since the last look only the newest is current:
  // the others were replaced before anyone could see them.
  std::optional<std::string> due;
  while (!pendingMeta_.empty() && pendingMeta_.front().frame <= heard && !spans_.empty()) {
    pendingMetaBytes_ -= pendingMeta_.front().text.size();
    due = std::move(pendingMeta_.front().text);
    pendingMeta_.pop_front();
  }
  return due;
}

bool UrlStream::finishedAt(uint64_t heard) const {
  std::lock_guard lock(playMutex_);
  return decodeFinished_ && pcm_.frames() == 0 && heard >= mixedFrames_ && mixedOnce_;
}

size_t UrlStream::recentMono(uint64_t heard, float *out, size_t count, uint64_t *first) const {
  std::lock_guard lock(playMutex_);
  const uint64_t end = std::min(heard, mixedFrames_);
  const uint64_t oldest = mixedFrames_ > kHistoryFrames ? mixedFrames_ - kHistoryFrames : 0;
  const uint64_t start = std::max(end >= count ? end - count : 0, oldest);
  // Heard audio older than the history (a very late device) gives nothing.
  const size_t n = start < end ? size_t(end - start) : 0;
  if (first) *first = start;
  for (size_t i = 0; i < n; ++i) out[i] = history_[(start + i) % kHistoryFrames];
  return n;
}

}  // namespace kirasol::audio
