#pragma once
// The audio library as the player sees it: exactly the calls the player
// makes, with the engine's names, types and results. The player talks to this
// interface so that window and worker logic can be exercised against a
// scripted library; BassAudioLibrary forwards every call to the engine.
//
// Thread rules are the engine's: any call from any thread, error codes per
// thread, callbacks on engine threads.

#include <bass.h>

namespace kirasol {

class AudioLibrary {
 public:
  virtual ~AudioLibrary() = default;

  virtual DWORD GetVersion() = 0;
  virtual int ErrorGetCode() = 0;

  virtual BOOL Init(int device, DWORD freq, DWORD flags, void *win, const void *clsid) = 0;
  virtual BOOL Free() = 0;
  virtual BOOL Start() = 0;
  virtual BOOL Stop() = 0;
  virtual BOOL SetVolume(float volume) = 0;
  virtual float GetCPU() = 0;

  virtual BOOL SetConfig(DWORD option, DWORD value) = 0;
  virtual BOOL SetConfigPtr(DWORD option, const void *value) = 0;

  virtual HSTREAM StreamCreateURL(const char *url, DWORD offset, DWORD flags, DOWNLOADPROC *proc,
                                  void *user) = 0;
  virtual BOOL StreamFree(HSTREAM handle) = 0;
  virtual QWORD StreamGetFilePosition(HSTREAM handle, DWORD mode) = 0;

  virtual const char *ChannelGetTags(DWORD handle, DWORD tags) = 0;
  virtual HSYNC ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC *proc, void *user) = 0;
  virtual BOOL ChannelPlay(DWORD handle, BOOL restart) = 0;
  virtual DWORD ChannelGetData(DWORD handle, void *buffer, DWORD length) = 0;
  virtual DWORD ChannelIsActive(DWORD handle) = 0;

  virtual BOOL RecordInit(int device) = 0;
  virtual BOOL RecordFree() = 0;
  virtual HRECORD RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC *proc, void *user) = 0;
};

// The real engine (audio/). Stateless: every instance talks to the one engine
// of the process.
class BassAudioLibrary final : public AudioLibrary {
 public:
  DWORD GetVersion() override;
  int ErrorGetCode() override;
  BOOL Init(int device, DWORD freq, DWORD flags, void *win, const void *clsid) override;
  BOOL Free() override;
  BOOL Start() override;
  BOOL Stop() override;
  BOOL SetVolume(float volume) override;
  float GetCPU() override;
  BOOL SetConfig(DWORD option, DWORD value) override;
  BOOL SetConfigPtr(DWORD option, const void *value) override;
  HSTREAM StreamCreateURL(const char *url, DWORD offset, DWORD flags, DOWNLOADPROC *proc, void *user) override;
  BOOL StreamFree(HSTREAM handle) override;
  QWORD StreamGetFilePosition(HSTREAM handle, DWORD mode) override;
  const char *ChannelGetTags(DWORD handle, DWORD tags) override;
  HSYNC ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC *proc, void *user) override;
  BOOL ChannelPlay(DWORD handle, BOOL restart) override;
  DWORD ChannelGetData(DWORD handle, void *buffer, DWORD length) override;
  DWORD ChannelIsActive(DWORD handle) override;
  BOOL RecordInit(int device) override;
  BOOL RecordFree() override;
  HRECORD RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC *proc, void *user) override;
};

}  // namespace kirasol
