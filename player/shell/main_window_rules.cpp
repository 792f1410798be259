#include "player/shell/main_window_rules.h"

#include <QFile>
#include <QList>
#include <QTextBoundaryFinder>
#include <limits>

namespace kirasol {

void ElapsedClock::tick() {
  if (++iSeconds > 59) {
    iSeconds = 0;
    ++iMinutes;
  }
  if (iMinutes > 59) {
    iMinutes = 0;
    if (iHours < std::numeric_limits<std::int16_t>::max()) ++iHours;
  }
}

QString ElapsedClock::text() const {
  auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
  return two(iHours) + QLatin1Char(':') + two(iMinutes) + QLatin1Char(':') + two(iSeconds);
}

QString rotateLeft(const QString &text) {
  // One character as the reader sees it: a Thai consonant keeps its vowel
  // and tone marks, which shown alone at the front would be lost.
  QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
  const qsizetype first = graphemes.toNextBoundary();
  if (first <= 0 || first >= text.size()) return text;
  return text.mid(first) + text.left(first);
}

QString volumeText(int value) { return QLatin1Char('(') + QString::number(value) + QStringLiteral("%)"); }

bool tracerAttached(const QByteArray &procStatus) {
  for (const QByteArray &line : procStatus.split('\n')) {
    if (!line.startsWith("TracerPid:")) continue;
    bool ok = false;
    const int pid = line.mid(10).trimmed().toInt(&ok);
    return ok && pid != 0;
  }
  return false;
}

bool isIDEmode() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return false;
  return tracerAttached(status.readAll());
}

}  // namespace kirasol
