#pragma once
// The splash window's counters and fade, without a window: what each timer
// tick and each activation decides.

#include <cstdint>

namespace kirasol {

class SplashSequence {
 public:
  static constexpr std::int16_t kFullLevel = 250;
  static constexpr std::int16_t kFadeStep = 10;
  static constexpr std::int16_t kTicksBeforeFade = 4;

  // Activation: the fade (re)starts from 250.
  void activate() { opacity_ = kFullLevel; }
  // Timer1 / Timer3 ticks: true exactly once, on the fourth tick (start the fade).
  bool countdownTick() { return count(timer1Count_); }
  bool resumeTick() { return count(timer3Count_); }

  struct FadeStep {
    int level;      // to apply to the window
    bool finished;  // level reached 0: show the main window, unload the splash
  };
  FadeStep fadeStep() {
    opacity_ = static_cast<std::int16_t>(opacity_ - kFadeStep);
    return {opacity_, opacity_ == 0};
  }
  std::int16_t opacity() const { return opacity_; }

 private:
  static bool count(std::int16_t &counter) {
    // Counting stops at the threshold, so a long-lived splash cannot overflow.
    if (counter >= kTicksBeforeFade) return false;
    return ++counter == kTicksBeforeFade;
  }

  // Starts as if activated once: a desktop that never activates the splash
  // must still see the fade reach 0 and the main window appear.
  std::int16_t opacity_ = kFullLevel;
  std::int16_t timer1Count_ = 0;
  std::int16_t timer3Count_ = 0;
};

}  // namespace kirasol
