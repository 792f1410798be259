#pragma once
// When a station that the listener is playing ends by itself (the server
// closed or reset the connection, or sent nothing for the read timeout), the
// player opens it again after a growing pause, until it plays again or the
// listener presses Stop. This class holds that decision and nothing else: it
// is told what happened to the stream and asks for a reopen through a
// callback when the pause is over. It lives on the UI thread; the pause is
// measured by a RetryTimer, which tests replace.

#include <chrono>
#include <functional>

class QTimer;

namespace kirasol {

class RetryTimer {
 public:
  virtual ~RetryTimer() = default;
  // Calls `due` once after `delay`, on the UI thread; replaces a pending call.
  virtual void start(std::chrono::milliseconds delay, std::function<void()> due) = 0;
  // A pending call does not happen.
  virtual void cancel() = 0;
};

// RetryTimer on a single-shot QTimer owned by this object.
class QtRetryTimer final : public RetryTimer {
 public:
  QtRetryTimer();
  ~QtRetryTimer() override;
  void start(std::chrono::milliseconds delay, std::function<void()> due) override;
  void cancel() override;

 private:
  QTimer *timer_;
  std::function<void()> due_;
};

class ReconnectPolicy {
 public:
  enum class Phase {
    Idle,       // nothing wanted: before the first Play, after Stop, after a failed Play
    Opening,    // the listener's Play is connecting
    Buffering,  // a stream is open and filling up to the start threshold
    Playing,    // playback has started
    Waiting,    // the stream ended by itself; the next attempt is due after a pause
    Reopening,  // an attempt is connecting
  };

  // `reopen(attempt)` starts connecting again and returns false when it could
  // not start (then the next pause begins).
  ReconnectPolicy(RetryTimer &timer, std::function<bool(int attempt)> reopen);

  // Pause before attempt n (1-based): 1, 2, 4, 8, 15, 30 s, then 30 s.
  static std::chrono::milliseconds delayBefore(int attempt);

  Phase phase() const { return phase_; }
  // The attempt waited for or being made; 0 when the station is not being
  // recovered.
  int attempt() const { return attempt_; }
  bool recovering() const { return attempt_ > 0; }

  // The listener pressed Play and a connection is being made. Cancels a
  // pending attempt; the count starts again.
  void listenerOpening();
  // The listener pressed Stop: nothing is retried any more, at once.
  void listenerStopped();

  // The connection made for Opening/Reopening succeeded. False when the
  // listener stopped meanwhile: the new stream is to be dropped.
  bool opened();
  enum class Failure {
    Report,    // the listener's own Play failed: say so, retry nothing
    Retrying,  // an attempt failed: the next pause has begun
    Ignore,    // the listener stopped meanwhile
  };
  Failure openFailed();
  // Playback started. `connected`: the buffer filled while the connection
  // was open, so the station is really back and the count starts again; a
  // connection that ended while buffering does not count as recovered.
  void playbackStarted(bool connected);
  // The stream ended by itself. True when a reopen has been scheduled
  // (attempt() says which); false when nothing is wanted.
  bool streamEnded();

 private:
  void scheduleNext();
  void due();

  RetryTimer &timer_;
  std::function<bool(int)> reopen_;
  Phase phase_ = Phase::Idle;
  int attempt_ = 0;
};

}  // namespace kirasol
