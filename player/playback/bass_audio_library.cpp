#include "player/playback/audio_library.h"

namespace kirasol {

DWORD BassAudioLibrary::GetVersion() { return BASS_GetVersion(); }
int BassAudioLibrary::ErrorGetCode() { return BASS_ErrorGetCode(); }
BOOL BassAudioLibrary::Init(int device, DWORD freq, DWORD flags, void *win, const void *clsid) {
  return BASS_Init(device, freq, flags, win, clsid);
}
BOOL BassAudioLibrary::Free() { return BASS_Free(); }
BOOL BassAudioLibrary::Start() { return BASS_Start(); }
BOOL BassAudioLibrary::Stop() { return BASS_Stop(); }
BOOL BassAudioLibrary::SetVolume(float volume) { return BASS_SetVolume(volume); }
float BassAudioLibrary::GetCPU() { return BASS_GetCPU(); }
BOOL BassAudioLibrary::SetConfig(DWORD option, DWORD value) { return BASS_SetConfig(option, value); }
BOOL BassAudioLibrary::SetConfigPtr(DWORD option, const void *value) { return BASS_SetConfigPtr(option, value); }
HSTREAM BassAudioLibrary::StreamCreateURL(const char *url, DWORD offset, DWORD flags, DOWNLOADPROC *proc,
                                          void *user) {
  return BASS_StreamCreateURL(url, offset, flags, proc, user);
}
BOOL BassAudioLibrary::StreamFree(HSTREAM handle) { return BASS_StreamFree(handle); }
QWORD BassAudioLibrary::StreamGetFilePosition(HSTREAM handle, DWORD mode) {
  return BASS_StreamGetFilePosition(handle, mode);
}
const char *BassAudioLibrary::ChannelGetTags(DWORD handle, DWORD tags) { return BASS_ChannelGetTags(handle, tags); }
HSYNC BassAudioLibrary::ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC *proc, void *user) {
  return BASS_ChannelSetSync(handle, type, param, proc, user);
}
BOOL BassAudioLibrary::ChannelPlay(DWORD handle, BOOL restart) { return BASS_ChannelPlay(handle, restart); }
DWORD BassAudioLibrary::ChannelGetData(DWORD handle, void *buffer, DWORD length) {
  return BASS_ChannelGetData(handle, buffer, length);
}
DWORD BassAudioLibrary::ChannelIsActive(DWORD handle) { return BASS_ChannelIsActive(handle); }
BOOL BassAudioLibrary::RecordInit(int device) { return BASS_RecordInit(device); }
BOOL BassAudioLibrary::RecordFree() { return BASS_RecordFree(); }
HRECORD BassAudioLibrary::RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC *proc, void *user) {
  return BASS_RecordStart(freq, chans, flags, proc, user);
}

}  // namespace kirasol
