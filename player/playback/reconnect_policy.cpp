#include "player/playback/reconnect_policy.h"

#include <QTimer>
#include <array>

namespace kirasol {

QtRetryTimer::QtRetryTimer() : timer_(new QTimer) {
  timer_->setSingleShot(true);
  QObject::connect(timer_, &QTimer::timeout, [this] {
    // Moved out first: the call may start the timer again.
    auto due = std::move(due_);
    due_ = nullptr;
    if (due) due();
  });
}

QtRetryTimer::~QtRetryTimer() { delete timer_; }

void QtRetryTimer::start(std::chrono::milliseconds delay, std::function<void()> due) {
  due_ = std::move(due);
  timer_->start(delay);
}

void QtRetryTimer::cancel() {
  timer_->stop();
  due_ = nullptr;
}

ReconnectPolicy::ReconnectPolicy(RetryTimer &timer, std::function<bool(int)> reopen)
    : timer_(timer), reopen_(std::move(reopen)) {}

std::chrono::milliseconds ReconnectPolicy::delayBefore(int attempt) {
  using namespace std::chrono_literals;
  // Quick at first (a server restart or a short network hiccup), then no more
  // than one try every 30 s, so a station that is down for a while is not
  // hammered.
  static constexpr std::array<std::chrono::milliseconds, 6> kPauses{1s, 2s, 4s, 8s, 15s, 30s};
  if (attempt < 1) return kPauses.front();
  return attempt <= int(kPauses.size()) ? kPauses[attempt - 1] : kPauses.back();
}

void ReconnectPolicy::listenerOpening() {
  timer_.cancel();
  phase_ = Phase::Opening;
  attempt_ = 0;
}

void ReconnectPolicy::listenerStopped() {
  timer_.cancel();
  phase_ = Phase::Idle;
  attempt_ = 0;
}

bool ReconnectPolicy::opened() {
  if (phase_ != Phase::Opening && phase_ != Phase::Reopening) return false;
  phase_ = Phase::Buffering;
  return true;
}

ReconnectPolicy::Failure ReconnectPolicy::openFailed() {
  switch (phase_) {
    case Phase::Opening:
      phase_ = Phase::Idle;
      return Failure::Report;
    case Phase::Reopening:
      scheduleNext();
      return Failure::Retrying;
    default:
      return Failure::Ignore;
  }
}

void ReconnectPolicy::playbackStarted(bool connected) {
  if (phase_ != Phase::Buffering) return;
  phase_ = Phase::Playing;
  if (connected) attempt_ = 0;
}

bool ReconnectPolicy::streamEnded() {
  if (phase_ != Phase::Buffering && phase_ != Phase::Playing) return false;
  scheduleNext();
  return true;
}

void ReconnectPolicy::scheduleNext() {
  ++attempt_;
  phase_ = Phase::Waiting;
  timer_.start(delayBefore(attempt_), [this] { due(); });
}

void ReconnectPolicy::due() {
  if (phase_ != Phase::Waiting) return;
  phase_ = Phase::Reopening;
  if (!reopen_(attempt_)) scheduleNext();
}

}  // namespace kirasol
