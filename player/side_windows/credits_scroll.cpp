#include "player/side_windows/credits_scroll.h"

#include "common/text_codec.h"
#include "common/text_rules.h"

#include <algorithm>
#include <limits>

namespace kirasol::side {

QStringList splitCreditLines(const QByteArray &fileBytes) {
  QString text = decodeText(fileBytes);
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  QStringList lines;
  qsizetype start = 0;
  const qsizetype n = text.size();
  for (qsizetype i = 0; i < n; ++i) {
    const QChar c = text.at(i);
    if (c != u'\r' && c != u'\n') continue;
    lines.append(text.mid(start, i - start));
    if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n') ++i;
    start = i + 1;
  }
  if (start < n) lines.append(text.mid(start));
  return lines;
}

namespace {

int clampIndex(double value) {
  if (std::isnan(value)) return 0;
  const double r = roundHalfEven(value);
  if (r < 0) return 0;
  if (r > 100) return 100;
  return static_cast<int>(r);
}

// (text - background) / 100 * i + background, rounded, never below 0.
int blendChannel(int text, int background, int i) {
  const double v = roundHalfEven(double(text - background) / 100.0 * i + background);
  return v < 0 ? 0 : static_cast<int>(v);
}

}  // namespace

std::optional<CreditsScroll> CreditsScroll::build(const QStringList &fileLines, const CreditsMetrics &metrics,
                                                  const CreditsColors &colors) {
  if (metrics.letterHeight <= 0 || !metrics.textWidth) return std::nullopt;
  CreditsScroll s;
  const auto visible = toInt16(metrics.boxHeight / metrics.letterHeight + 1);
  if (!visible) return std::nullopt;
  // Empty lines first, so that the first text line starts at the bottom.
  const qsizetype count = qsizetype(std::max<int>(*visible, 0)) + fileLines.size();
  if (count > std::numeric_limits<std::int16_t>::max()) return std::nullopt;
  for (int i = 0; i < *visible; ++i) s.CreditLines_.append(QString());
  s.CreditLines_.append(fileLines);
  if (s.CreditLines_.isEmpty()) return std::nullopt;  // nothing to draw a ring from

  const auto lineHeight = toInt16(metrics.letterHeight);
  if (!lineHeight) return std::nullopt;
  s.VisibleLines_ = *visible;
  s.LineHeight_ = *lineHeight;
  s.boxHeight_ = metrics.boxHeight;

  const auto fadeTop = toInt32(metrics.boxHeight / 100 * 20 - s.LineHeight_);
  if (!fadeTop) return std::nullopt;
  const auto bottomStart = toInt32(metrics.boxHeight - *fadeTop - 2.0 * s.LineHeight_);
  if (!bottomStart) return std::nullopt;
  const auto bottomRange = toInt32(metrics.boxHeight - (s.LineHeight_ - 10) - *bottomStart);
  if (!bottomRange) return std::nullopt;
  if (*fadeTop == 0 || *bottomRange == 0) return std::nullopt;  // the scales would divide by zero
  s.FadeTopHeight_ = *fadeTop;
  s.FadeBottomStart_ = *bottomStart;
  s.FadeBottomRange_ = *bottomRange;
  s.FadeTopScale_ = 100.0 / s.FadeTopHeight_;
  s.FadeBottomScale_ = 100.0 / s.FadeBottomRange_;

  s.TextColor_ = colors.text;
  s.CreditX_.reserve(s.CreditLines_.size());
  for (const QString &line : s.CreditLines_) {
    const auto x = toInt32((metrics.boxWidth - metrics.textWidth(line)) / 2);
    if (!x) return std::nullopt;
    s.CreditX_.push_back(*x);
  }

  const QRgb t = colors.text, b = colors.background;
  for (int i = 0; i <= 100; ++i) {
    s.FadeColors_[i] = qRgb(blendChannel(qRed(t), qRed(b), i), blendChannel(qGreen(t), qGreen(b), i),
                            blendChannel(qBlue(t), qBlue(b), i));
  }
  return s;
}

void CreditsScroll::advance() {
  ScrollY_ -= ScrollStep;
  if (ScrollY_ < -LineHeight_) {
    ScrollY_ = 0;
    ++TopIndex_;
    if (TopIndex_ > CreditCount() - 1) TopIndex_ = 0;
  }
}

std::vector<DrawnLine> CreditsScroll::frame() const {
  std::vector<DrawnLine> out;
  out.reserve(std::max<int>(VisibleLines_, 0));
  std::int32_t y = ScrollY_;
  const int count = CreditCount();
  for (int k = 1; k <= VisibleLines_; ++k) {
    int index = -1;
    if (y < boxHeight_ && y > FadeBottomStart_) {
      index = clampIndex((FadeBottomRange_ - (y - FadeBottomStart_)) * FadeBottomScale_);
    } else if (y < FadeTopHeight_) {
      index = clampIndex(y * FadeTopScale_);
    }
    const int j = (TopIndex_ + k) % count;
    out.push_back({CreditLines_.at(j), CreditX_[j], y, index < 0 ? TextColor_ : FadeColors_[index], index});
    y += LineHeight_;
  }
  return out;
}

}  // namespace kirasol::side
