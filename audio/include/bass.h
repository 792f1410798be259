/* Kirasol audio engine: the subset of the classic audio-library C API that the
 * player uses, implemented by this project (libcurl for HTTP/HTTPS/ICY,
 * libmpg123 for MP3, the desktop's sound server through libpulse for output
 * and capture, KissFFT for the spectrum).
 *
 * Errors: every call sets the calling thread's error code (BASS_OK on
 * success); BASS_ErrorGetCode() returns it. Codes are per thread, so a
 * worker's failure is read on the worker.
 *
 * Handles: stream and recording handles come from one counter, sync handles
 * from another; none is ever reused within a run, so a stale handle always
 * fails with BASS_ERROR_HANDLE and has no other effect.
 *
 * Threads: each URL stream has a download thread (DOWNLOADPROC runs there)
 * and a decoder thread; one mixer thread feeds the output, sleeping until the
 * sound server has room or a sync is due; the sound-server connection has
 * one thread of its own (output and capture share it); syncs (SYNCPROC) run
 * one at a time on one sync thread; RECORDPROC runs on the capture delivery
 * thread. No callback runs on the caller's thread or while the engine holds a
 * lock the callback could need: a callback may call any function here,
 * BASS_StreamFree on its own stream included (the release then finishes on
 * the engine's clean-up thread). After BASS_StreamFree or BASS_RecordFree
 * returns on a thread of the program, no callback of that channel runs any
 * more. The sound server's callbacks only copy samples or wake the mixer.
 * Nothing is printed: failures are reported through the error codes.
 *
 * Memory: strings returned by the engine are owned by it; see each call for
 * how long they stay valid. Nothing the caller passes is kept except the
 * callback pointers and user values, and the option strings (copied). */
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

#define BASS_ACTIVE_STOPPED 0
#define BASS_ACTIVE_PLAYING 1
#define BASS_ACTIVE_STALLED 2
#define BASS_ACTIVE_PAUSED 3

/* Download callback of a URL stream, on its download thread. With
 * BASS_STREAM_STATUS, first one call per final (non-redirect) response with
 * length 0 and `buffer` = the response's header block (layout as the
 * ICY/HTTP tags), also for an error response before the stream fails; then
 * calls with the downloaded audio bytes, ICY metadata removed (without the
 * flag only these); finally one call with buffer NULL when the download ends
 * on its own (not after BASS_StreamFree). A playlist document and redirect
 * responses are not reported. The first calls happen before
 * BASS_StreamCreateURL returns; after it returned 0 no call comes. */
typedef void DOWNLOADPROC(const void *buffer, DWORD length, void *user);
/* Sync callback, on the engine's sync thread; `data` is 0. */
typedef void SYNCPROC(HSYNC handle, DWORD channel, DWORD data, void *user);
/* Capture callback, on the capture thread about every 100 ms, with the 16-bit
 * samples captured since the last call. Returning FALSE pauses the capture
 * (BASS_ChannelPlay resumes it); the handle stays valid. */
typedef BOOL RECORDPROC(HRECORD handle, const void *buffer, DWORD length, void *user);

/* 0x02041100: version 2.4 in the high word. */
DWORD BASS_GetVersion(void);
/* The calling thread's last code; does not change it. */
int BASS_ErrorGetCode(void);

/* Opens the output and starts it at once: device -1 = the sound server's
 * default output (libpulse; PipeWire desktops serve it too), n >= 1 = its
 * n-th sink, 0 = "no sound" (everything works; the mix is discarded at
 * real-time pace). Output is stereo float at `freq` (0 meaning 44100), one
 * stream named "Kirasol Radio" (icon "kirasol-radio", role music), about
 * 0.5 s queued at the server, which asks for more every 0.15 s (so a
 * volume change is heard within half a second); a stream starts to sound
 * once 0.1 s of it is there. When nothing plays the server
 * stream is paused. What is "heard" (titles, spectrum, END) follows the
 * server's playback clock. A server is never started: without one, DRIVER at
 * once. `flags`, `win` and `clsid` are ignored. Errors: ALREADY
 * (initialised), DEVICE (no such device), DRIVER (no sound server, or it
 * refused the stream), FORMAT (`freq` outside 8000..192000). */
BOOL BASS_Init(int device, DWORD freq, DWORD flags, void *win, const void *clsid);
/* Frees every stream (as BASS_StreamFree) and closes the output; recording is
 * separate. Errors: INIT. */
BOOL BASS_Free(void);
/* Resumes the output after BASS_Stop; streams stopped then stay stopped.
 * Errors: INIT, START. */
BOOL BASS_Start(void);
/* Stops the output and every playing stream (AUTOFREE streams are freed);
 * audio mixed but not yet played is dropped; no END sync fires. Recording is
 * unaffected. Errors: INIT. */
BOOL BASS_Stop(void);
/* Master gain of the mix, 0.0 to 1.0. Errors: INIT, ILLPARAM (outside or
 * NaN). */
BOOL BASS_SetVolume(float volume);
/* Decoding plus mixing time over the duration of the audio produced, in
 * percent, measured over about the last second; 0 when nothing plays. */
float BASS_GetCPU(void);

/* Network options, usable before BASS_Init; a stream takes a copy when it is
 * created. NET_TIMEOUT (ms, default 5000) bounds connecting and
 * StreamCreateURL's wait for the format; NET_BUFFER (ms, 5000) sizes the
 * download buffer; NET_PREBUF (0..100 %, 75) is how full the buffer must be
 * before StreamCreateURL returns; NET_PLAYLIST (0..2, 0): >= 1 resolves
 * .pls/.m3u/XSPF playlists; NET_READTIMEOUT (ms, 0 = never) ends a download whose
 * open connection delivers no byte for that long (time spent waiting for room
 * in a full buffer does not count): CONNECTED becomes 0 and the END sync
 * fires once the buffered audio has been heard. Errors: ILLTYPE (unknown
 * option or a pointer option), ILLPARAM (value out of range). */
BOOL BASS_SetConfig(DWORD option, DWORD value);
/* NET_AGENT: the User-Agent text (copied; NULL sends none; default
 * "Kirasol Radio/1.1"). NET_PROXY: "[user:pass@]host:port" (copied), NULL =
 * direct connection (proxy environment variables are ignored too). Errors:
 * ILLTYPE. */
BOOL BASS_SetConfigPtr(DWORD option, const void *value);

/* Opens an http:// or https:// MP3 stream and blocks until its format is
 * known (first MPEG audio frame confirmed by the next header), and then,
 * unless NET_PREBUF is 0, until the buffer is that full (that wait gives up
 * when nothing arrives for NET_TIMEOUT). Sends "Icy-MetaData:1" and the
 * agent; follows up to 10 redirects; with NET_PLAYLIST >= 1 a .pls, .m3u or
 * XSPF answer (by content type, address or content; a UTF-8 byte-order mark
 * is ignored) is read and its http(s) entries tried in order. Live streams cannot seek: `offset` is ignored. Every
 * stream is treated as BLOCK: a rolling buffer of NET_BUFFER ms at the
 * station's bit rate (icy-br when given, else the first frame's; at least
 * 4096 bytes); when it is full the download waits (TCP back-pressure).
 * Sample rates other than the device's are resampled; mono becomes stereo.
 * Errors: INIT; ILLPARAM (NULL or malformed address); PROTOCOL (scheme other
 * than http/https); SSL (TLS failure); TIMEOUT (no format within
 * NET_TIMEOUT); FILEOPEN (DNS failure, refused, HTTP 4xx/5xx: the status
 * block a STATUS proc received last says which, a playlist without
 * entries); FILEFORM (the body is not MP3: an HTML page, empty; at once when
 * the content type or the first bytes name another format: AAC, Ogg, Opus,
 * FLAC). When no entry of a playlist plays, the error is the last entry's. */
HSTREAM BASS_StreamCreateURL(const char *url, DWORD offset, DWORD flags, DOWNLOADPROC *proc, void *user);
/* Stops and releases a stream, its connection and syncs; also accepts the
 * recording handle (stops and releases the recording, keeping
 * BASS_RecordInit's device). Safe from any callback. Errors: HANDLE. */
BOOL BASS_StreamFree(HSTREAM handle);
/* END: download buffer size in bytes, constant for the stream. BUFFER: bytes
 * held now and not yet played (0..END): the download buffer plus the audio
 * decoded ahead, counted as the station's bytes. CONNECTED: 1 while the connection is open, then 0.
 * DOWNLOAD: audio bytes received so far; CURRENT: audio bytes taken by the
 * decoder; START: 0. Errors (return (QWORD)-1): HANDLE, NOTFILE (a recording),
 * ILLPARAM (other mode). */
QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode);

/* ICY / HTTP: the header block of the response that carries the stream, for a
 * status line starting "ICY" / "HTTP/" respectively: NUL-terminated lines,
 * status line first, CR LF removed, ended by an empty string; the other type
 * is NULL. META: the latest metadata text as sent (e.g.
 * "StreamTitle='...';StreamUrl='...';", zero padding removed), NULL before
 * the first block with text has been heard. Bytes as received. The ICY/HTTP
 * pointers stay valid until the channel is freed; a META pointer until that
 * tag has been replaced 16 more times or the channel is freed. Errors (NULL):
 * HANDLE, NOTAVAIL (absent, other type, or a recording). */
const char *BASS_ChannelGetTags(DWORD handle, DWORD tags);
/* Several syncs per stream; `param` is unused. META fires with data 0 each
 * time a metadata block with text becomes current, i.e. when the audio that
 * follows it in the stream starts to be heard (the tag changes at that moment
 * too). Titles are bounded: blocks that would become current at the same
 * decoded position (less than one MP3 frame of audio apart) count as the last
 * of them; at most 64 KB of title text waits per stream (beyond that the
 * newest waiting title gives way to the arriving one); a META still waiting
 * for the sync thread takes the newer text instead of queueing another. END fires once when the stream's last audio has been heard after the
 * download ended; never on BASS_Stop; an AUTOFREE stream is freed right after
 * its END syncs ran. BASS_SYNC_MIXTIME is accepted, but these syncs still
 * run on the sync thread at heard time. Errors (0): HANDLE, ILLTYPE (other
 * type, or a recording, which has neither), ILLPARAM (proc NULL). */
HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC *proc, void *user);
/* Starts a stream (`restart` is ignored: streams are live); TRUE if it is
 * already playing or has ended. Underruns: when a playing stream's decoder
 * runs dry while its connection is still open, the stream stalls instead of
 * playing whatever trickles in: nothing of it is output, its heard position
 * (titles, spectrum) stands still and BASS_ChannelIsActive says STALLED, until
 * the download buffer holds 75 % of BASS_FILEPOS_END or the connection has
 * closed; then it plays on. At the start it waits only for its first audio
 * (the caller chose when to start). Resumes a paused recording (TRUE if running;
 * the output state does not matter for recordings). Errors: HANDLE, START
 * (output stopped, for streams; capture failed to start, for a recording). */
BOOL BASS_ChannelPlay(DWORD handle, BOOL restart);
/* What a channel is doing as heard now. A stream: STOPPED before
 * BASS_ChannelPlay, after BASS_Stop and once its end has been heard; PLAYING
 * while its audio is heard; STALLED while it plays but has nothing to be heard
 * (waiting for its first audio, or re-buffering after the download ran dry).
 * A recording: PLAYING while capturing, PAUSED when paused (BASS_RECORD_PAUSE
 * or its RECORDPROC returned FALSE). Errors (return 0 = STOPPED): HANDLE. */
DWORD BASS_ChannelIsActive(DWORD handle);
/* Only `length` = BASS_DATA_FFT2048: writes 1024 floats to `buffer`, the
 * magnitudes of a 2048-point FFT (Hann window, |X[k]|*2/N, bin k = k*rate/2048
 * Hz) of the samples being heard now, channels averaged; for a recording the
 * newest captured samples. Fewer than 2048 samples: zero-padded. Returns the
 * bytes of sample data used (frames x channels x bytes per sample: 8 per
 * frame for streams, 2 x chans for a recording). Errors (return (DWORD)-1,
 * buffer untouched): HANDLE, ILLPARAM (other length or NULL buffer). */
DWORD BASS_ChannelGetData(DWORD handle, void *buffer, DWORD length);

/* Opens capture on the sound server: -1 = its default input, n >= 0 = its
 * n-th source. Errors: ALREADY, DEVICE (no such source), DRIVER (no sound
 * server). */
BOOL BASS_RecordInit(int device);
/* Stops and releases the recording (if any) and the capture device. Errors:
 * INIT. */
BOOL BASS_RecordFree(void);
/* 16-bit signed PCM, `chans` 1 or 2, `freq` 0 = 44100, delivered about every
 * 100 ms. Starts at once unless `flags` holds BASS_RECORD_PAUSE. `proc` may be NULL (the FFT still works).
 * One recording at a time. Errors: INIT (no BASS_RecordInit), ALREADY (one
 * is running), FORMAT (channels or rate not possible), DRIVER, START. */
HRECORD BASS_RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC *proc, void *user);

#ifdef __cplusplus
}
#endif

#endif /* KIRASOL_BASS_H */
