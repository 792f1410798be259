#include "player/spectrum/live_spectrum.h"

#include "common/text_rules.h"

#include <QPainter>
#include <cmath>
#include <cstring>

namespace kirasol::spectrum {

namespace {

// A bar height from its floating value: rounded halves to even, at most 40
// rows, no lower limit (silence gives -4). A NaN (a broken magnitude) counts
// as silence instead of reaching an integer conversion.
int barHeight(double value) {
  if (std::isnan(value)) return -4;
  if (value > kHeight) return kHeight;
  return static_cast<int>(roundHalfEven(value));
}

struct BandPlan {
  std::array<BandBins, kBands> bins;
  std::array<double, kBands> divisor;  // log10(n + 10), n = bins in the band
};

BandPlan makeBandPlan() {
  BandPlan plan{};
  int b0 = 0;
  for (int x = 0; x < kBands; ++x) {
    int b1 = static_cast<int>(roundHalfEven(std::pow(2.0, x * 10.0 / 27.0)));
    if (b1 > kFftBins - 1) b1 = kFftBins - 1;
    if (b1 <= b0) b1 = b0 + 1;  // every band takes at least one bin
    const int n = b1 - b0;
    plan.bins[x] = {b0 + 1, b1};
    plan.divisor[x] = std::log(double(n + 10)) / std::log(10.0);
    b0 = b1;
  }
  return plan;
}

const BandPlan &bandPlan() {
  static const BandPlan plan = makeBandPlan();
  return plan;
}

void drawLinear(const Magnitudes &m, SpectrumBuffer &buffer) {
  int p = 0;  // height of the previous column
  for (int x = 0; x < kLinearBars; ++x) {
    const int y = barHeight(std::sqrt(double(m[x + 1])) * 3 * 40 - 4);
    if (x > 0) {
      // The in-between column at the mean height of its neighbours.
      const int mean = static_cast<int>(roundHalfEven((p + y) / 2.0));
      for (int r = mean - 1; r >= 0; --r) buffer[r * kWidth + 2 * x - 1] = static_cast<std::uint8_t>(r + 1);
    }
    p = y;
    for (int r = y - 1; r >= 0; --r) buffer[r * kWidth + 2 * x] = static_cast<std::uint8_t>(r + 1);
  }
}

void drawBands(const Magnitudes &m, SpectrumBuffer &buffer) {
  const BandPlan &plan = bandPlan();
  for (int x = 0; x < kBands; ++x) {
    float s = 0.0f;  // a single-precision running total, as the bars were tuned with
    for (int b = plan.bins[x].first; b <= plan.bins[x].last; ++b) s += m[b];
    const int y = barHeight(std::sqrt(double(s) / plan.divisor[x]) * 1.7 * 40 - 4);
    for (int r = y - 1; r >= 0; --r) std::memset(&buffer[4 * x + kWidth * r], r + 1, 2);
  }
}

void putLe(std::uint8_t *at, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

const std::array<BandBins, kBands> &bandBins() { return bandPlan().bins; }

QRgb paletteColor(int i) {
  if (i <= 0 || i > 255) return qRgb(0, 0, 0);
  if (i < 128) return qRgb(2 * i, 256 - 2 * i, 0);
  if (i < 160) return qRgb(0, 0, 8 * (i - 128));
  if (i < 192) return qRgb(8 * (i - 160), 0, 255);
  if (i < 224) return qRgb(255, 8 * (i - 192), 8 * (31 - (i - 192)));
  return qRgb(255, 255, 8 * (i - 224));
}

std::array<std::uint8_t, kHeaderSize> spectrumHeaderBytes() {
  std::array<std::uint8_t, kHeaderSize> h{};
  putLe(&h[0], 40, 4);                                   // biSize
  putLe(&h[4], kWidth, 4);                               // biWidth
  putLe(&h[8], kHeight, 4);                              // biHeight: positive, bottom-up
  putLe(&h[12], 1, 2);                                   // biPlanes
  putLe(&h[14], 8, 2);                                   // biBitCount
  putLe(&h[16], 0, 4);                                   // biCompression BI_RGB
  putLe(&h[20], 0, 4);                                   // biSizeImage
  putLe(&h[24], 0, 4);                                   // biXPelsPerMeter
  putLe(&h[28], 0, 4);                                   // biYPelsPerMeter
  putLe(&h[32], 256, 4);                                 // biClrUsed
  putLe(&h[36], 256, 4);                                 // biClrImportant
  for (int i = 0; i < 256; ++i) {
    const QRgb c = paletteColor(i);
    std::uint8_t *q = &h[40 + 4 * i];
    q[0] = static_cast<std::uint8_t>(qBlue(c));
    q[1] = static_cast<std::uint8_t>(qGreen(c));
    q[2] = static_cast<std::uint8_t>(qRed(c));
    q[3] = 0;
  }
  return h;
}

void computeSpectrum(const Magnitudes &magnitudes, std::int16_t style, SpectrumBuffer &buffer) {
  buffer.fill(0);
  if (style == kStyleLinear) {
    drawLinear(magnitudes, buffer);
  } else {
    drawBands(magnitudes, buffer);
  }
}

LiveSpectrum::LiveSpectrum(FftFetcher fetcher) : fetcher_(std::move(fetcher)) {
  shown_ = QImage(kShownColumns, kHeight, QImage::Format_RGB32);
  InitSpectrum();
}

void LiveSpectrum::InitSpectrum() {
  // The colour table is taken from the header bytes so that what is painted
  // is exactly what the header describes.
  const auto header = spectrumHeaderBytes();
  for (int i = 0; i < 256; ++i) {
    const std::uint8_t *q = &header[40 + 4 * i];
    colorTable_[i] = qRgb(q[2], q[1], q[0]);
  }
  SpectrumStyle = kStyleLinear;
  picture_.fill(0);
  shownIndices_.fill(0);
  shown_.fill(colorTable_[0]);
}

bool LiveSpectrum::UpdateSpectrum() {
  magnitudes_.fill(0.0f);
  if (fetcher_) fetcher_(std::span<float, kFftBins>(magnitudes_.data(), kFftBins));
  computeSpectrum(magnitudes_, SpectrumStyle, picture_);
  return refreshImage();
}

bool LiveSpectrum::tick() {
  const bool changed = UpdateSpectrum();
  SpectrumStyle = kStyleBands;
  return changed;
}

bool LiveSpectrum::refreshImage() {
  // Bottom-up bitmap: buffer row 39 is the top line of the picture. Silence
  // and held notes give the same picture tick after tick; telling the caller
  // spares the window a repaint (and the display server a copy).
  bool changed = false;
  for (int line = 0; line < kHeight; ++line) {
    const std::uint8_t *row = &picture_[(kHeight - 1 - line) * kWidth];
    std::uint8_t *shownRow = &shownIndices_[line * kShownColumns];
    if (std::memcmp(shownRow, row, kShownColumns) == 0) continue;
    std::memcpy(shownRow, row, kShownColumns);
    auto *pixels = reinterpret_cast<QRgb *>(shown_.scanLine(line));
    for (int c = 0; c < kShownColumns; ++c) pixels[c] = colorTable_[row[c]];
    changed = true;
  }
  return changed;
}

void LiveSpectrum::paint(QPainter &painter) const { painter.drawImage(kFirstShownPixel, shown_); }

}  // namespace kirasol::spectrum
