#include "player/spectrum/live_spectrum.h"

#include <QImage>
#include <QPainter>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace kirasol::spectrum {
namespace {

Magnitudes silence() {
  Magnitudes m{};
  m.fill(0.0f);
  return m;
}

// Rows filled in bitmap column c: the count of non-zero entries, which must
// also be contiguous from the bottom with index r + 1.
int columnHeight(const SpectrumBuffer &b, int c) {
  int h = 0;
  while (h < kHeight && b[h * kWidth + c] != 0) {
    EXPECT_EQ(b[h * kWidth + c], h + 1) << "column " << c << " row " << h;
    ++h;
  }
  for (int r = h; r < kHeight; ++r) EXPECT_EQ(b[r * kWidth + c], 0) << "gap in column " << c << " row " << r;
  return h;
}

// The magnitude that makes a linear column exactly `rows` high.
float linearMagnitude(int rows) {
  const double root = (rows + 4) / 120.0;
  return static_cast<float>(root * root);
}

TEST(SpectrumBands, BinsAsTabled) {
  const std::array<BandBins, kBands> expected{{{1, 1},     {2, 2},     {3, 3},     {4, 4},     {5, 5},
                                               {6, 6},     {7, 7},     {8, 8},     {9, 9},     {10, 10},
                                               {11, 13},   {14, 17},   {18, 22},   {23, 28},   {29, 36},
                                               {37, 47},   {48, 61},   {62, 79},   {80, 102},  {103, 131},
                                               {132, 170}, {171, 219}, {220, 284}, {285, 367}, {368, 474},
                                               {475, 613}, {614, 792}, {793, 1023}}};
  for (int x = 0; x < kBands; ++x) {
    EXPECT_EQ(bandBins()[x].first, expected[x].first) << "band " << x;
    EXPECT_EQ(bandBins()[x].last, expected[x].last) << "band " << x;
  }
}

TEST(SpectrumHeader, FieldsAndColourTable) {
  const auto h = spectrumHeaderBytes();
  auto le32 = [&](int at) { return h[at] | h[at + 1] << 8 | h[at + 2] << 16 | uint32_t(h[at + 3]) << 24; };
  auto le16 = [&](int at) { return h[at] | h[at + 1] << 8; };
  EXPECT_EQ(le32(0), 40u);
  EXPECT_EQ(le32(4), 120u);
  EXPECT_EQ(le32(8), 40u);
  EXPECT_EQ(le16(12), 1);
  EXPECT_EQ(le16(14), 8);
  for (int at : {16, 20, 24, 28}) EXPECT_EQ(le32(at), 0u) << at;
  EXPECT_EQ(le32(32), 256u);
  EXPECT_EQ(le32(36), 256u);

  struct Entry {
    int index, red, green, blue;
  };
  const Entry table[] = {
      {0, 0, 0, 0},         {1, 2, 254, 0},       {40, 80, 176, 0},   {127, 254, 2, 0},
      {128, 0, 0, 0},       {159, 0, 0, 248},     {160, 0, 0, 255},   {191, 248, 0, 255},
      {192, 255, 0, 248},   {223, 255, 248, 0},   {224, 255, 255, 0}, {255, 255, 255, 248},
  };
  for (const Entry &e : table) {
    const uint8_t *q = &h[40 + 4 * e.index];
    EXPECT_EQ(q[0], e.blue) << e.index;
    EXPECT_EQ(q[1], e.green) << e.index;
    EXPECT_EQ(q[2], e.red) << e.index;
    EXPECT_EQ(q[3], 0) << e.index;
    EXPECT_EQ(paletteColor(e.index), qRgb(e.red, e.green, e.blue)) << e.index;
  }
}

TEST(SpectrumCompute, SilenceIsBlackInBothStyles) {
  for (std::int16_t style : {kStyleLinear, kStyleBands}) {
    SpectrumBuffer b;
    b.fill(0xAA);  // a stale picture must not survive
    computeSpectrum(silence(), style, b);
    for (int i = 0; i < kBufferSize; ++i) ASSERT_EQ(b[i], 0) << "style " << style << " byte " << i;
  }
}

TEST(SpectrumCompute, LoudSignalCapsAtFullBarWithGreenTop) {
  for (float loud : {1.0f, 1e30f, std::numeric_limits<float>::infinity()}) {
    Magnitudes m;
    m.fill(loud);
    for (std::int16_t style : {kStyleLinear, kStyleBands}) {
      SpectrumBuffer b;
      computeSpectrum(m, style, b);
      EXPECT_EQ(columnHeight(b, 0), kHeight) << loud;
      EXPECT_EQ(paletteColor(b[39 * kWidth + 0]), qRgb(80, 176, 0));
      // Nothing above the shown rows is ever written.
      for (int i = kWidth * kHeight; i < kBufferSize; ++i) ASSERT_EQ(b[i], 0) << i;
    }
  }
}

TEST(SpectrumCompute, LinearColumnsAndInBetweenColumns) {
  // Heights per bar x (0..59); in-between column 2x-1 is N((prev + y) / 2).
  struct Case {
    const char *name;
    std::vector<int> heights;      // bars 0.. (rest silent; -4 is silence)
    std::vector<int> inBetween;    // expected rows of columns 1, 3, 5, ...
  };
  const Case cases[] = {
      {"y=5 after silence: N(0.5) = 0", {-4, 5}, {0, 0}},
      {"y=7 after silence: N(1.5) = 2", {-4, 7}, {2, 2}},
      {"mean of 10 and 20", {10, 20}, {15, 8}},
      {"mean of 11 and 20 rounds half to even", {11, 20}, {16, 8}},
      {"full bars", {40, 40, 40}, {40, 40, 18}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Magnitudes m = silence();
    for (size_t x = 0; x < c.heights.size(); ++x) m[x + 1] = linearMagnitude(c.heights[x]);
    SpectrumBuffer b;
    computeSpectrum(m, kStyleLinear, b);
    for (size_t x = 0; x < c.heights.size(); ++x) EXPECT_EQ(columnHeight(b, int(2 * x)), std::max(0, c.heights[x]));
    for (size_t k = 0; k < c.inBetween.size(); ++k) EXPECT_EQ(columnHeight(b, int(2 * k + 1)), c.inBetween[k]);
  }
  Magnitudes all;
  all.fill(1.0f);
  SpectrumBuffer b;
  computeSpectrum(all, kStyleLinear, b);
  EXPECT_EQ(columnHeight(b, 118), kHeight);
  EXPECT_EQ(columnHeight(b, 119), 0) << "column 119 stays black";
}

TEST(SpectrumCompute, BandsSumTheirBinsWithTheirDivisor) {
  // Band 0 is bin 1 alone over log10(11); band 27 sums 231 bins over log10(241).
  auto rowsFor = [](double sum, int bins) {
    const double v = std::sqrt(sum / (std::log(bins + 10.0) / std::log(10.0))) * 1.7 * 40 - 4;
    return static_cast<int>(std::nearbyint(v));
  };
  Magnitudes m = silence();
  m[1] = 0.05f;
  m[2] = 0.5f;  // bin 2 belongs to band 1 and must not reach band 0
  for (int bin = 793; bin <= 1023; ++bin) m[bin] = 0.0001f;
  SpectrumBuffer b;
  computeSpectrum(m, kStyleBands, b);
  float band27 = 0.0f;
  for (int bin = 793; bin <= 1023; ++bin) band27 += 0.0001f;
  const int expected0 = rowsFor(0.05f, 1);
  const int expected27 = rowsFor(band27, 231);
  ASSERT_GT(expected0, 0);
  ASSERT_GT(expected27, 0);
  ASSERT_LT(expected27, kHeight);
  EXPECT_EQ(columnHeight(b, 0), expected0);
  EXPECT_EQ(columnHeight(b, 1), expected0);
  EXPECT_EQ(columnHeight(b, 4), kHeight);  // band 1, capped
  EXPECT_EQ(columnHeight(b, 108), expected27);
  EXPECT_EQ(columnHeight(b, 109), expected27);
  for (int x = 0; x < kBands; ++x) {
    EXPECT_EQ(columnHeight(b, 4 * x + 2), 0) << "gap after band " << x;
    EXPECT_EQ(columnHeight(b, 4 * x + 3), 0) << "gap after band " << x;
  }
  for (int c = 112; c < kWidth; ++c) EXPECT_EQ(columnHeight(b, c), 0) << c;
}

// Each band height is aimed just below a rounding boundary, so the divisor
// log10(n + 10) and the single-precision running total are both visible: a
// divisor of log10(n + 9), no divisor, or a double total moves the bar a row.
TEST(SpectrumCompute, BandHeightsSitOnTheirExactDivisorAndSingleTotal) {
  struct Band {
    int column, firstBin, bins;
  };
  const Band bands[] = {{0, 1, 1}, {108, 793, 231}};
  const auto rowsAt = [](double s, int bins) {
    return std::sqrt(s / (std::log(bins + 10.0) / std::log(10.0))) * 1.7 * 40 - 4;
  };
  for (const Band &band : bands) {
    for (int k = 9; k < kHeight; ++k) {
      SCOPED_TRACE(testing::Message() << "band at column " << band.column << ", " << k << " rows");
      // One bin carries the height; the band's other bins get amounts a
      // single-precision total drops but a double total would keep.
      const double target = k + 0.5 - 1e-5;
      const double d = std::log(band.bins + 10.0) / std::log(10.0);
      const float big = static_cast<float>(std::pow((target + 4) / 68.0, 2) * d);
      const float tiny = std::nextafter(big, 1.0f) - big;
      Magnitudes m = silence();
      m[band.firstBin] = big;
      for (int b = band.firstBin + 1; b < band.firstBin + band.bins; ++b) m[b] = tiny * 0.45f;
      float single = 0.0f;
      double dbl = 0.0;
      for (int b = band.firstBin; b < band.firstBin + band.bins; ++b) {
        single += m[b];
        dbl += m[b];
      }
      const int expected = static_cast<int>(std::nearbyint(rowsAt(single, band.bins)));
      ASSERT_EQ(expected, k);
      if (band.bins > 1) {
        ASSERT_EQ(std::nearbyint(rowsAt(dbl, band.bins)), k + 1) << "case cannot tell the totals apart";
      }
      SpectrumBuffer b;
      computeSpectrum(m, kStyleBands, b);
      EXPECT_EQ(columnHeight(b, band.column), expected);
    }
  }
}

TEST(SpectrumCompute, BrokenMagnitudesDrawNothing) {
  for (float bad : {std::numeric_limits<float>::quiet_NaN(), -1.0f}) {
    Magnitudes m;
    m.fill(bad);
    for (std::int16_t style : {kStyleLinear, kStyleBands}) {
      SpectrumBuffer b;
      computeSpectrum(m, style, b);
      for (int i = 0; i < kBufferSize; ++i) ASSERT_EQ(b[i], 0) << "style " << style;
    }
  }
}

// A fetcher that fills every bin with one level; level 0 leaves them alone.
struct LevelFetcher {
  float level = 1.0f;
  int calls = 0;
  FftFetcher fetcher() {
    return [this](std::span<float, kFftBins> out) {
      ++calls;
      for (float v : out) EXPECT_EQ(v, 0.0f) << "magnitudes arrive zeroed";
      if (level != 0.0f) std::fill(out.begin(), out.end(), level);
    };
  }
};

TEST(LiveSpectrumTicks, FirstTickLinearThenBands) {
  LevelFetcher source;
  LiveSpectrum spec(source.fetcher());
  EXPECT_EQ(spec.style(), kStyleLinear);
  EXPECT_TRUE(spec.tick()) << "a changed picture asks for a repaint";
  EXPECT_EQ(columnHeight(spec.buffer(), 2), kHeight) << "linear fills column 2";
  EXPECT_EQ(spec.style(), kStyleBands);
  EXPECT_TRUE(spec.tick());
  EXPECT_EQ(columnHeight(spec.buffer(), 2), 0) << "bands leave column 2 black";
  EXPECT_FALSE(spec.tick()) << "the same picture again needs no repaint";
  source.level = 0.0f;  // the channel went away: black
  EXPECT_TRUE(spec.tick());
  for (uint8_t v : spec.buffer()) ASSERT_EQ(v, 0);
  EXPECT_FALSE(spec.tick());
  EXPECT_EQ(source.calls, 5);
  spec.InitSpectrum();
  EXPECT_EQ(spec.style(), kStyleLinear);
}

TEST(LiveSpectrumTicks, MouseReleaseBeforeFirstTickMeansBands) {
  LevelFetcher source;
  LiveSpectrum spec(source.fetcher());
  spec.mouseReleased();
  spec.tick();
  EXPECT_EQ(columnHeight(spec.buffer(), 2), 0);
  EXPECT_EQ(columnHeight(spec.buffer(), 0), kHeight);
}

TEST(LiveSpectrumPaint, BitmapColumnLandsAtClientX91PlusC) {
  LevelFetcher source;
  LiveSpectrum spec(source.fetcher());
  spec.tick();  // linear: every even column and the in-between ones full
  const QRgb skin = qRgb(12, 34, 56);
  QImage window(281, 172, QImage::Format_RGB32);
  window.fill(skin);
  {
    QPainter p(&window);
    spec.paint(p);
  }
  struct Pixel {
    int x, y;
    QRgb expected;
  };
  const Pixel pixels[] = {
      {91, 60, qRgb(80, 176, 0)},       // column 0, row 39
      {91, 99, qRgb(2, 254, 0)},        // column 0, row 0
      {91 + 102, 99, qRgb(2, 254, 0)},  // column 102, last shown
      {91 + 103, 99, skin},             // column 103 is not drawn
      {74, 80, skin},                   // destination x 74..90 keep the window
      {90, 80, skin},
      {91, 59, skin},                   // above the picture
      {91, 100, skin},                  // below it
  };
  for (const Pixel &px : pixels) EXPECT_EQ(window.pixel(px.x, px.y), px.expected) << px.x << "," << px.y;
  EXPECT_EQ(LiveSpectrum::paintRect(), QRect(91, 60, 103, 40));
}

}  // namespace
}  // namespace kirasol::spectrum
