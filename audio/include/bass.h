/* Kirasol audio engine: the subset of the classic audio-library C API that the
 * player uses, implemented by this project (libcurl, libmpg123, PortAudio,
 * KissFFT).
 *
 * Errors: every call sets the calling thread's error code (BASS_OK on
 * success); BASS_ErrorGetCode() returns it. Codes are per thread.
 * Handles: never reused within a run, so a stale handle always fails with
 * BASS_ERROR_HANDLE.
 * Threads: callbacks run on engine threads, never on the caller's thread, and
 * never while the engine holds a lock they could need; a callback may call any
 * function here, BASS_StreamFree on its own stream included.
 * Strings returned by the engine are owned by it; see each call for how long
 * they stay valid. */
#ifndef KIRASOL_BASS_H
#define KIRASOL_BASS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t DWORD;
typedef uint64_t QWORD;
typedef int BOOL;
typedef DWORD HSTREAM;
typedef DWORD HRECORD;
typedef DWORD HSYNC;
typedef DWORD HCHANNEL;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define BASSVERSION 0x204

#define BASS_OK 0
#define BASS_ERROR_MEM 1
#define BASS_ERROR_FILEOPEN 2
#define BASS_ERROR_DRIVER 3
#define BASS_ERROR_BUFLOST 4
#define BASS_ERROR_HANDLE 5
#define BASS_ERROR_FORMAT 6
#define BASS_ERROR_POSITION 7
#define BASS_ERROR_INIT 8
#define BASS_ERROR_START 9
#define BASS_ERROR_SSL 10
#define BASS_ERROR_ALREADY 14
#define BASS_ERROR_NOTAUDIO 17
#define BASS_ERROR_NOCHAN 18
#define BASS_ERROR_ILLTYPE 19
#define BASS_ERROR_ILLPARAM 20
#define BASS_ERROR_DEVICE 23
#define BASS_ERROR_NOPLAY 24
#define BASS_ERROR_FREQ 25
#define BASS_ERROR_NOTFILE 27
#define BASS_ERROR_EMPTY 31
#define BASS_ERROR_NONET 32
#define BASS_ERROR_CREATE 33
#define BASS_ERROR_NOTAVAIL 37
#define BASS_ERROR_DECODE 38
#define BASS_ERROR_TIMEOUT 40
#define BASS_ERROR_FILEFORM 41
#define BASS_ERROR_SPEAKER 42
#define BASS_ERROR_VERSION 43
#define BASS_ERROR_CODEC 44
#define BASS_ERROR_ENDED 45
#define BASS_ERROR_BUSY 46
#define BASS_ERROR_UNSTREAMABLE 47
#define BASS_ERROR_PROTOCOL 48
#define BASS_ERROR_DENIED 49
#define BASS_ERROR_UNKNOWN -1

#define BASS_CONFIG_NET_TIMEOUT 11
#define BASS_CONFIG_NET_BUFFER 12
#define BASS_CONFIG_NET_PREBUF 15
#define BASS_CONFIG_NET_AGENT 16
#define BASS_CONFIG_NET_PROXY 17
#define BASS_CONFIG_NET_PLAYLIST 21
#define BASS_CONFIG_NET_READTIMEOUT 37

#define BASS_STREAM_AUTOFREE 0x40000
#define BASS_STREAM_BLOCK 0x100000
#define BASS_STREAM_STATUS 0x800000

#define BASS_FILEPOS_CURRENT 0
#define BASS_FILEPOS_DOWNLOAD 1
#define BASS_FILEPOS_END 2
#define BASS_FILEPOS_START 3
#define BASS_FILEPOS_CONNECTED 4
#define BASS_FILEPOS_BUFFER 5

#define BASS_TAG_HTTP 3
#define BASS_TAG_ICY 4
#define BASS_TAG_META 5

#define BASS_SYNC_END 2
#define BASS_SYNC_META 4
#define BASS_SYNC_MIXTIME 0x40000000

#define BASS_DATA_FFT2048 0x80000003

#define BASS_RECORD_PAUSE 0x8000

typedef void DOWNLOADPROC(const void *buffer, DWORD length, void *user);
typedef void SYNCPROC(HSYNC handle, DWORD channel, DWORD data, void *user);
typedef BOOL RECORDPROC(HRECORD handle, const void *buffer, DWORD length, void *user);

DWORD BASS_GetVersion(void);
int BASS_ErrorGetCode(void);

BOOL BASS_Init(int device, DWORD freq, DWORD flags, void *win, const void *clsid);
BOOL BASS_Free(void);
BOOL BASS_Start(void);
BOOL BASS_Stop(void);
BOOL BASS_SetVolume(float volume);
float BASS_GetCPU(void);

BOOL BASS_SetConfig(DWORD option, DWORD value);
BOOL BASS_SetConfigPtr(DWORD option, const void *value);

HSTREAM BASS_StreamCreateURL(const char *url, DWORD offset, DWORD flags, DOWNLOADPROC *proc, void *user);
BOOL BASS_StreamFree(HSTREAM handle);
QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode);

const char *BASS_ChannelGetTags(DWORD handle, DWORD tags);
HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC *proc, void *user);
BOOL BASS_ChannelPlay(DWORD handle, BOOL restart);
DWORD BASS_ChannelGetData(DWORD handle, void *buffer, DWORD length);

BOOL BASS_RecordInit(int device);
BOOL BASS_RecordFree(void);
HRECORD BASS_RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC *proc, void *user);

#ifdef __cplusplus
}
#endif

#endif /* KIRASOL_BASS_H */
