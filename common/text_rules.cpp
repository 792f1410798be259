#include "common/text_rules.h"

#include <cfenv>
#include <cmath>
#include <limits>

namespace kirasol {

double roundHalfEven(double value) {
  // nearbyint follows the current rounding mode; the programs never change it
  // from the default round-to-nearest-even, but a library might, so be explicit.
  const int previous = std::fegetround();
  if (previous != FE_TONEAREST) std::fesetround(FE_TONEAREST);
  const double rounded = std::nearbyint(value);
  if (previous != FE_TONEAREST) std::fesetround(previous);
  return rounded;
}

namespace {
template <typename Int>
std::optional<Int> roundInto(double value) {
  if (std::isnan(value)) return std::nullopt;
  const double r = roundHalfEven(value);
  if (r < double(std::numeric_limits<Int>::min()) || r > double(std::numeric_limits<Int>::max())) {
    return std::nullopt;
  }
  return static_cast<Int>(r);
}
}  // namespace

std::optional<std::int16_t> toInt16(double value) { return roundInto<std::int16_t>(value); }
std::optional<std::int32_t> toInt32(double value) { return roundInto<std::int32_t>(value); }

int ordinalCompare(const QString &a, const QString &b) {
  return QString::compare(a, b, Qt::CaseSensitive);
}

std::optional<QString> firstField(const QString &text) {
  qsizetype p = 0;
  const qsizetype n = text.size();
  while (p < n && (text[p] == u' ' || text[p] == u'\t')) ++p;
  if (p == n) return std::nullopt;
  if (text[p] == u'"') {
    const qsizetype close = text.indexOf(u'"', p + 1);
    return close < 0 ? text.mid(p + 1) : text.mid(p + 1, close - p - 1);
  }
  qsizetype end = p;
  while (end < n && text[end] != u',' && text[end] != u'\r' && text[end] != u'\n') ++end;
  return text.mid(p, end - p);
}

}  // namespace kirasol
