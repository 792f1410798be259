#pragma once
// modLiveSpec: the 120 x 40 spectrum analyser painted on the main window.
//
// How the main window uses it:
//   - Load: construct one LiveSpectrum with an FftFetcher (bassFftFetcher()
//     from bass_fft_fetcher.h reads CurrentChannel), then call InitSpectrum().
//   - tmrLiveSpec (25 ms, owned by the main window): on every tick call
//     tick(); only when it returns true (the shown picture changed) call
//     update(LiveSpectrum::paintRect()) on the window. A SpectrumSchedule
//     (spectrum_schedule.h) keeps the timer still while the window cannot be
//     seen.
//   - Mouse release on the main window's surface: mouseReleased().
//   - paintEvent: paint(painter) after drawing the skin. Painting only copies
//     the last computed picture; all arithmetic happens in tick().
// Everything runs on the UI thread; the fetcher is called from tick() only.

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRgb>
#include <array>
#include <cstdint>
#include <functional>
#include <span>

class QPainter;

namespace kirasol::spectrum {

inline constexpr int kWidth = 120;             // bitmap columns
inline constexpr int kHeight = 40;             // bitmap rows shown
inline constexpr int kBufferSize = 4921;       // 41 rows of 120 and one byte
inline constexpr int kFftBins = 1024;          // magnitudes BASS_DATA_FFT2048 delivers
inline constexpr int kBands = 28;
inline constexpr int kLinearBars = 60;
inline constexpr int kShownColumns = 103;      // bitmap columns 0..102 land on the window
inline constexpr QPoint kFirstShownPixel{91, 60};  // client position of bitmap column 0, row 39
inline constexpr int kHeaderSize = 40 + 256 * 4;   // BITMAPINFOHEADER + colour table

// SpectrumStyle values.
inline constexpr std::int16_t kStyleLinear = 0;
inline constexpr std::int16_t kStyleBands = 1;

// 1,025 magnitudes: index 0 is the DC bin (never read), 1..1023 are used,
// 1024 is never filled.
using Magnitudes = std::array<float, kFftBins + 1>;
using SpectrumBuffer = std::array<std::uint8_t, kBufferSize>;

// Fills the 1,024 FFT magnitudes of the channel being analysed. It may leave
// them untouched (they arrive zeroed), which draws a black picture.
using FftFetcher = std::function<void(std::span<float, kFftBins>)>;

// First and last FFT bin (inclusive) summed into a band.
struct BandBins {
  int first;
  int last;
};
const std::array<BandBins, kBands> &bandBins();

// Colour table entry i as red, green, blue.
QRgb paletteColor(int index);

// The header plus colour table, little-endian, as the bitmap copy uses it:
// 40 header bytes then 256 entries of blue, green, red, 0.
std::array<std::uint8_t, kHeaderSize> spectrumHeaderBytes();

// One tick's picture from the magnitudes: a zero-filled buffer, then linear
// columns (style 0) or bands (any other value). Palette indices, row 0 at the
// bottom, index r * 120 + c.
void computeSpectrum(const Magnitudes &magnitudes, std::int16_t style, SpectrumBuffer &buffer);

class LiveSpectrum {
 public:
  explicit LiveSpectrum(FftFetcher fetcher);

  // Colour table ready, style linear, picture black.
  void InitSpectrum();
  // One tmrLiveSpec tick without the style switch: fetch, compute, keep the
  // picture. True when the shown part of the picture changed.
  bool UpdateSpectrum();
  // The tmrLiveSpec handler: UpdateSpectrum(), then the band style from now on.
  // True when the window needs repainting.
  bool tick();
  // A mouse release on the main window switches to the band style too.
  void mouseReleased() { SpectrumStyle = kStyleBands; }

  std::int16_t style() const { return SpectrumStyle; }
  const SpectrumBuffer &buffer() const { return picture_; }
  // The shown part of the last picture in its colours (Format_RGB32):
  // bitmap columns 0..102, top row first.
  const QImage &shownImage() const { return shown_; }

  // Draws the last picture: bitmap column c at client x 91 + c, rows 39..0 at
  // client y 60..99. Client x 74..90 keep whatever the window drew there.
  void paint(QPainter &painter) const;
  // The client rectangle paint() covers, for QWidget::update().
  static QRect paintRect() { return {kFirstShownPixel, QSize(kShownColumns, kHeight)}; }

 private:
  // Copies the shown columns into shown_; true when any pixel changed.
  bool refreshImage();

  FftFetcher fetcher_;
  std::int16_t SpectrumStyle = kStyleLinear;
  SpectrumBuffer picture_{};  // SpectrumBuffer of the last tick
  Magnitudes magnitudes_{};
  std::array<QRgb, 256> colorTable_{};
  // The shown columns' palette indices, top row first, to tell a change.
  std::array<std::uint8_t, kShownColumns * kHeight> shownIndices_{};
  QImage shown_;
};

}  // namespace kirasol::spectrum
