#pragma once
// The arithmetic of the credits window (frmAbout), free of widgets: the line
// ring, the layout in twips (15 per pixel), the fade table and one frame.
//
// Lengths are twips as the window's picture box measures them; colours are
// QRgb. 16-bit quantities keep their width: a layout that would not fit
// (more than 32,767 lines, a zero-height fade) fails the load as a whole.

#include <QRgb>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace kirasol::side {

inline constexpr int kTwipsPerPixel = 15;

// What the picture box measures, in twips.
struct CreditsMetrics {
  double boxWidth = 0;
  double boxHeight = 0;
  double letterHeight = 0;                              // height of the text "A"
  std::function<double(const QString &)> textWidth;     // width of one line's text
};

struct CreditsColors {
  QRgb text;
  QRgb background;
};

// One line of a frame: where its text starts and in which colour.
struct DrawnLine {
  QString text;
  std::int32_t x;      // CreditX of the line
  std::int32_t y;      // top of the line
  QRgb color;
  int fadeIndex;       // FadeColors index used, -1 for the plain text colour
};

// The file's lines: UTF-8 when valid, else Windows-874; CR LF, LF or CR end a
// line; a final line end does not add an empty line; a leading BOM is dropped.
QStringList splitCreditLines(const QByteArray &fileBytes);

class CreditsScroll {
 public:
  // The load's computations; nullopt when one of them cannot be done (a
  // 16-bit overflow or a division by zero), which the window reports as a
  // failed load.
  static std::optional<CreditsScroll> build(const QStringList &fileLines, const CreditsMetrics &metrics,
                                            const CreditsColors &colors);

  // Timer1: move up by ScrollStep, then the next frame is frame().
  void advance();
  // The lines drawn by one tick, top to bottom (VisibleLines of them).
  std::vector<DrawnLine> frame() const;

  std::int16_t VisibleLines() const { return VisibleLines_; }
  std::int16_t LineHeight() const { return LineHeight_; }
  std::int16_t CreditCount() const { return static_cast<std::int16_t>(CreditLines_.size()); }
  std::int16_t TopIndex() const { return TopIndex_; }
  std::int32_t ScrollY() const { return ScrollY_; }
  std::int32_t FadeTopHeight() const { return FadeTopHeight_; }
  std::int32_t FadeBottomStart() const { return FadeBottomStart_; }
  std::int32_t FadeBottomRange() const { return FadeBottomRange_; }
  double FadeTopScale() const { return FadeTopScale_; }
  double FadeBottomScale() const { return FadeBottomScale_; }
  const QStringList &CreditLines() const { return CreditLines_; }
  const std::vector<std::int32_t> &CreditX() const { return CreditX_; }
  const std::array<QRgb, 101> &FadeColors() const { return FadeColors_; }
  QRgb TextColor() const { return TextColor_; }

  static constexpr std::int16_t ScrollStep = 15;

 private:
  CreditsScroll() = default;

  QStringList CreditLines_;
  std::vector<std::int32_t> CreditX_;
  std::array<QRgb, 101> FadeColors_{};
  QRgb TextColor_ = 0;
  double boxHeight_ = 0;
  std::int32_t ScrollY_ = 0;
  std::int16_t TopIndex_ = 0;
  std::int16_t LineHeight_ = 0;
  std::int16_t VisibleLines_ = 0;
  std::int32_t FadeTopHeight_ = 0;
  std::int32_t FadeBottomStart_ = 0;
  std::int32_t FadeBottomRange_ = 0;
  double FadeTopScale_ = 0;
  double FadeBottomScale_ = 0;
};

}  // namespace kirasol::side
