#pragma once
// Small rules of the main window: the elapsed-time clock, the marquee, the
// volume text and the debugger test.

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace kirasol {

// Timer5's clock. Counters are 16-bit like the window's own; hours past
// 32767 (almost four years of play) stop counting instead of wrapping.
class ElapsedClock {
 public:
  void tick();
  QString text() const;  // "01:00:00"; hours beyond 99 show all digits
  std::int16_t seconds() const { return iSeconds; }
  std::int16_t minutes() const { return iMinutes; }
  std::int16_t hours() const { return iHours; }

 private:
  std::int16_t iSeconds = 0;
  std::int16_t iMinutes = 0;
  std::int16_t iHours = 0;
};

// The marquee step: the text from its second character on, then its first,
// a character being a grapheme cluster (a base and its combining marks).
QString rotateLeft(const QString &text);

// "(50%)".
QString volumeText(int value);

// True when /proc/self/status (given as text) names a tracer: a debugger is
// attached.
bool tracerAttached(const QByteArray &procStatus);
// The running player's own status.
bool isIDEmode();

}  // namespace kirasol
