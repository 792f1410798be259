// The C calls: each one records its result as the calling thread's error code
// and forwards to the engine.

#include "bass.h"
#include "engine.h"
#include "error_state.h"

#include <string>

using kirasol::audio::Engine;
using kirasol::audio::NetConfig;
using kirasol::audio::setError;

namespace {

BOOL result(int error) {
  setError(error);
  return error == BASS_OK ? TRUE : FALSE;
}

}  // namespace

extern "C" {

DWORD BASS_GetVersion(void) {
  setError(BASS_OK);
  return 0x02041100;
}

int BASS_ErrorGetCode(void) { return kirasol::audio::lastError(); }

BOOL BASS_Init(int device, DWORD freq, DWORD, void *, const void *) {
  return result(Engine::instance().init(device, freq));
}

BOOL BASS_Free(void) { return result(Engine::instance().free()); }
BOOL BASS_Start(void) { return result(Engine::instance().start()); }
BOOL BASS_Stop(void) { return result(Engine::instance().stop()); }
BOOL BASS_SetVolume(float volume) { return result(Engine::instance().setVolume(volume)); }

float BASS_GetCPU(void) {
  setError(BASS_OK);
  return Engine::instance().cpuPercent();
}

BOOL BASS_SetConfig(DWORD option, DWORD value) {
  int error = BASS_OK;
  Engine::instance().net.update([&](NetConfig &c) {
    switch (option) {
      case BASS_CONFIG_NET_TIMEOUT: c.timeoutMs = value; break;
      case BASS_CONFIG_NET_BUFFER: c.bufferMs = value; break;
      case BASS_CONFIG_NET_PREBUF:
        if (value > 100) error = BASS_ERROR_ILLPARAM;
        else c.prebufPercent = value;
        break;
      case BASS_CONFIG_NET_PLAYLIST:
        if (value > 2) error = BASS_ERROR_ILLPARAM;
        else c.playlist = value;
        break;
      case BASS_CONFIG_NET_READTIMEOUT: c.readTimeoutMs = value; break;
      default: error = BASS_ERROR_ILLTYPE; break;
    }
  });
  return result(error);
}

BOOL BASS_SetConfigPtr(DWORD option, const void *value) {
  int error = BASS_OK;
  const char *text = static_cast<const char *>(value);
  Engine::instance().net.update([&](NetConfig &c) {
    switch (option) {
      case BASS_CONFIG_NET_AGENT:
        c.agent = text ? std::optional<std::string>(text) : std::nullopt;
        break;
      case BASS_CONFIG_NET_PROXY:
        c.proxy = text ? std::optional<std::string>(text) : std::nullopt;
        break;
      default: error = BASS_ERROR_ILLTYPE; break;
    }
  });
  return result(error);
}

HSTREAM BASS_StreamCreateURL(const char *url, DWORD, DWORD flags, DOWNLOADPROC *proc, void *user) {
  int error = BASS_OK;
  const HSTREAM handle = Engine::instance().createStream(url, flags, proc, user, error);
  setError(error);
  return handle;
}

BOOL BASS_StreamFree(HSTREAM handle) { return result(Engine::instance().freeChannel(handle)); }

QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode) {
  int error = BASS_OK;
  const QWORD pos = Engine::instance().filePosition(handle, mode, error);
  setError(error);
  return pos;
}

const char *BASS_ChannelGetTags(DWORD handle, DWORD tags) {
  int error = BASS_OK;
  const char *tag = Engine::instance().tags(handle, tags, error);
  setError(error);
  return tag;
}

HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD, SYNCPROC *proc, void *user) {
  int error = BASS_OK;
  const HSYNC sync = Engine::instance().setSync(handle, type, proc, user, error);
  setError(error);
  return sync;
}

BOOL BASS_ChannelPlay(DWORD handle, BOOL) { return result(Engine::instance().play(handle)); }

DWORD BASS_ChannelGetData(DWORD handle, void *buffer, DWORD length) {
  int error = BASS_OK;
  DWORD used = DWORD(-1);
  if (length != BASS_DATA_FFT2048) {
    // Only the spectrum is offered; still tell a stale handle apart.
    int ignored = BASS_OK;
    Engine::instance().filePosition(handle, BASS_FILEPOS_START, ignored);
    error = ignored == BASS_ERROR_HANDLE ? BASS_ERROR_HANDLE : BASS_ERROR_ILLPARAM;
  } else {
    used = Engine::instance().fft(handle, static_cast<float *>(buffer), error);
  }
  setError(error);
  return used;
}

DWORD BASS_ChannelIsActive(DWORD handle) {
  int error = BASS_OK;
  const DWORD state = Engine::instance().activity(handle, error);
  setError(error);
  return state;
}

BOOL BASS_RecordInit(int device) { return result(Engine::instance().recordInit(device)); }
BOOL BASS_RecordFree(void) { return result(Engine::instance().recordFree()); }

HRECORD BASS_RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC *proc, void *user) {
  int error = BASS_OK;
  const HRECORD handle = Engine::instance().recordStart(freq, chans, flags, proc, user, error);
  setError(error);
  return handle;
}

}  // extern "C"
