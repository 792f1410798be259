#pragma once
// The station stream: the worker that opens it (OpenStation), the library
// callbacks, and the status timers' ticks that turn buffer positions, headers
// and metadata into the main window's texts.
//
// Threads: NetRadio lives on the UI thread. OpenStation runs on a std::thread
// of its own; the library calls StreamDownloadProc, TitleSyncProc,
// StreamEndSyncProc and RecordingProc on its threads. None of them touches the
// view: they post to the UI thread through this object, and queued calls to
// one object keep their order, so the texts appear in the order they were
// produced. The callbacks get this object as their user pointer.
//
// A stream that ends while the listener still wants to hear the station is
// opened again by itself (ReconnectPolicy decides when); Stop ends that at
// once.

#include "common/dialogs.h"
#include "player/playback/audio_library.h"
#include "player/playback/playback_view.h"
#include "player/playback/reconnect_policy.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace kirasol {

class NetRadio : public QObject {
  Q_OBJECT
 public:
  // `retryTimer` measures the pauses between reconnection attempts; null
  // uses a QTimer.
  NetRadio(AudioLibrary &audio, Dialogs &dialogs, QObject *parent = nullptr,
           std::unique_ptr<RetryTimer> retryTimer = nullptr);
  // Waits for a running worker; an error box it waits for is given up.
  ~NetRadio() override;

  // The window the texts go to; null detaches (the window was unloaded).
  void setView(PlaybackView *view);

  // Player-wide state of the playback module.
  std::atomic<DWORD> CurrentChannel{0};
  // Non-zero while a stream-opening worker runs; cleared as its very last step.
  std::atomic<DWORD> hOpenThread{0};
  QStringList StationUrls;  // written by the main window's load, and by the shell for a handed-over station

  // The listener's Play: starts OpenStation(preset) on a new thread unless
  // one runs already (then returns false and starts nothing).
  bool startOpenStation(int preset);
  // The listener's Stop (after the output was stopped): no reconnection
  // happens any more, a stream still opening or buffering is dropped, and a
  // status that would now be untrue gives way to "not playing".
  void stopStation();
  const ReconnectPolicy &reconnectPolicy() const { return policy_; }

  // Tick of tmrNetRadio: buffering text, or at the start threshold the
  // headers, title, syncs and playback start.
  void netRadioTick();
  // Tick of tmrBass2: the library's processor load.
  void bass2Tick();
  // Also each tmrBass2 tick: while the playing stream waits for its buffer
  // to refill (the download could not keep up), "buffering... N%"; the
  // station's name again once it plays on.
  void watchPlayback();
  // Reads the current metadata and shows its title (any thread).
  void UpdateSongTitle();

  // Library callbacks; user is the NetRadio.
  static void StreamDownloadProc(const void *buffer, DWORD length, void *user);
  static void TitleSyncProc(HSYNC handle, DWORD channel, DWORD data, void *user);
  static void StreamEndSyncProc(HSYNC handle, DWORD channel, DWORD data, void *user);
  static BOOL RecordingProc(HRECORD handle, const void *buffer, DWORD length, void *user);

  // The library's sync call with a 32-bit parameter.
  HSYNC SetChannelSync(DWORD handle, DWORD type, DWORD param, SYNCPROC *proc, void *user);

  // Blocks until the current worker (if any) has finished. For orderly
  // shutdown and tests; the UI never waits for the worker otherwise.
  void waitForWorker();

 private:
  bool startWorker(int preset, bool reconnecting);
  void OpenStation(int preset, QStringList urls, bool reconnecting);
  // UI-thread halves of the worker's and the callbacks' results.
  void streamOpened(DWORD handle);
  void streamOpenFailed(int code, int lastStatus);
  void streamEnded(DWORD channel);
  // lblName's text: posted (any thread, in order) or applied now (UI thread,
  // from work that was itself posted).
  void showStationText(const QString &text);
  void applyStationText(const QString &text);
  // The ended look: "not playing", no bit rate, no title (UI thread, now).
  void applyNotPlaying();
  // The stream error box (UI thread): the message, the line naming the cause
  // (may be empty) and the failed call's code.
  void ShowStreamError(const QString &message, const QString &cause, int code);
  // Runs `update` on the UI thread against the current view, in posting order.
  void post(std::function<void(PlaybackView &)> update);
  // Runs `work` on the UI thread, in posting order, view or not.
  void postWork(std::function<void()> work);

  AudioLibrary &audio_;
  Dialogs &dialogs_;
  PlaybackView *view_ = nullptr;
  std::thread worker_;
  std::atomic<bool> shuttingDown_{false};
  // Status code of the last answer the station's server gave while opening
  // (0: none), to tell "not found" from "unreachable" when the open fails.
  std::atomic<int> lastAnswerStatus_{0};
  DWORD nextThreadId_ = 0;
  std::unique_ptr<RetryTimer> retryTimer_;
  ReconnectPolicy policy_;
  // UI thread: the stream whose playback started, the name shown then, what
  // lblName shows, whether it was heard playing and whether a stall is shown.
  DWORD playingChannel_ = 0;
  QString playingName_;
  QString shownStation_;
  bool heardPlaying_ = false;
  bool stalled_ = false;
};

}  // namespace kirasol
