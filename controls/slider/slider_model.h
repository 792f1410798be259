#pragma once
// The skinned slider's state and rules, without any widget.
//
// A slider is a track with a progress picture that fills it up to the thumb,
// and a thumb with three looks (normal, hovered, pressed). It is horizontal
// when Position is not 0 and vertical (maximum at the top) when it is 0, and
// holds a 32-bit value between Min and Max. Five picture holders supply what is
// drawn: picBack (the track surface; everything is drawn into it), picBack1
// (progress), picBar (normal thumb; its size is the thumb size), picBarOver and
// picBarDown. A holder without a picture is drawn as its plain fill colour.
//
// Threading: everything runs on the UI thread. The model calls its listener
// synchronously, from inside the call that caused the event; the listener may
// read the model but should not assume a finished mouse step while handling
// MouseDown/MouseMove/Change.
//
// Arithmetic: doubles, rounded to the nearest integer with halves to even,
// into the field widths below (32-bit offsets and values, 16-bit LargeChange
// and drawing coordinates). A drawing or value step whose result cannot be
// computed (an empty range, a thumb as long as the track, an overflow) is
// skipped and leaves its target as it was; nothing is reported.

#include "controls/slider/property_store.h"

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QString>

#include <cstdint>

namespace kirasol {

// Colours as the control stores them: 0x00BBGGRR, or 0x80000000 | index for a
// system colour (0x8000000F is the button face).
using OleColour = std::uint32_t;
inline constexpr OleColour kButtonFace = 0x8000000F;

// The colour to paint; system colours come from the application palette.
QColor colourFromOle(OleColour colour);

// One picture surface: a fill colour with an optional picture drawn at its
// top-left corner, and a size in pixels.
struct PictureHolder {
  OleColour fillColour = 0;
  QPixmap picture;
  int width = 0;
  int height = 0;

  bool hasPicture() const { return !picture.isNull(); }
  // Auto-size: the holder takes its picture's size; without a picture it keeps its own.
  void sizeToPicture();
  // The holder as it looks: the fill colour with the picture on top.
  QImage render() const;
};

// Mouse arguments as the events carry them: button 1 left, 2 right, 4 middle
// (a mask of the held buttons for moves); shift 1 Shift, 2 Ctrl, 4 Alt; x and
// y in pixels on the track.
struct SliderMouse {
  std::int16_t button = 0;
  std::int16_t shift = 0;
  float x = 0;
  float y = 0;
};
inline constexpr std::int16_t kLeftButton = 1;
inline constexpr std::int16_t kRightButton = 2;
inline constexpr std::int16_t kMiddleButton = 4;

// What the model tells its host. Every method has an empty default.
class SliderListener {
 public:
  virtual ~SliderListener() = default;
  // The user moved the value (each drag move; a release that did not end a drag).
  virtual void sliderChange(std::int32_t /*value*/) {}
  virtual void sliderMouseDown(const SliderMouse &) {}  // left presses only
  virtual void sliderMouseUp(const SliderMouse &) {}    // every release
  virtual void sliderMouseMove(const SliderMouse &) {}  // every move
  // A property was assigned (names "Value", "Max", "Min", "LargeChange", ...).
  virtual void sliderPropertyChanged(const QString & /*name*/) {}
  // The control asks its host for a new size in pixels (the Position exchange).
  virtual void sliderSizeRequested(int /*width*/, int /*height*/) {}
  // The hover timer (10 ms) must start or stop.
  virtual void sliderOverTimerSwitched(bool /*enabled*/) {}
  // The track surface was redrawn and should reach the screen.
  virtual void sliderRefreshed() {}
  // The cursor shown over the control changed (null: the default cursor).
  virtual void sliderCursorChanged(const QPixmap & /*cursor*/) {}
};

// What a key (or an assistive tool) asks of the value: one step, one page
// (LargeChange, or a tenth of the range when it is 0), or an end of the range.
enum class SliderStep { Down, Up, PageDown, PageUp, ToMin, ToMax };

// Which thumb picture the last draw used.
enum class ThumbLook { None, Normal, Pressed, Hover };

// What the last DrawSlider put on the track (for hosts and tests that need
// the geometry rather than the pixels).
struct SliderDraw {
  std::int16_t x = 0;  // thumb rectangle's corner: (BarPos, 0) or (0, BarPos)
  std::int16_t y = 0;
  QRect progress;      // area copied from picBack1 (same place on both)
  ThumbLook thumb = ThumbLook::None;
  QRect thumbRect;     // where the thumb went; picBar's size
};

class SliderModel {
 public:
  // The fill colours the holders have before anything is assigned: black
  // track and progress, a white thumb, red while hovered, green while pressed.
  static constexpr OleColour kTrackColour = 0x000000;
  static constexpr OleColour kThumbColour = 0xFFFFFF;
  static constexpr OleColour kHoverColour = 0x0000FF;
  static constexpr OleColour kPressedColour = 0x00FF00;
  static constexpr int kDefaultThumbSize = 9;  // a thumb without a picture
  // Largest side that the Position exchange can handle: sizes are exchanged in
  // 16-bit twips (15 per pixel), and 2,185 × 15 no longer fits.
  static constexpr int kMaxExchangeSide = 2184;

  explicit SliderModel(SliderListener *listener = nullptr);
  void setListener(SliderListener *listener) { listener_ = listener; }

  // ---- Host events ----
  // A new control: Max becomes 100 if it is 0; redraw.
  void Initialize();
  // The host sized the control to this inner size (pixels): the track takes
  // it, the thumbs take its cross size; redraw.
  void Resize(int innerWidth, int innerHeight);
  // Restores a saved set: pictures and numbers stored directly (no auto-size,
  // no range checks), Position through its assignment, then a redraw.
  // Returns Position's result. Absent or unreadable keys read as their defaults.
  bool ReadProperties(const PropertyStore &store);
  // Saves the keys PictureBack, MouseIcon, PictureProgress, Bar, BarOver,
  // BarDown, BackColor, Min, Max, LargeChange, Value, Position in this order.
  void WriteProperties(PropertyStore &store) const;

  // ---- Properties ----
  // Accepted only when Min <= v <= Max and the thumb is not held; redraws.
  // Does not raise Change.
  std::int32_t value() const { return value_; }
  void setValue(std::int32_t v);
  // Pull Value down (Max) or up (Min) when needed; the other end is untouched,
  // so an inverted range is accepted as it is.
  std::int32_t max() const { return max_; }
  void setMax(std::int32_t v);
  std::int32_t min() const { return min_; }
  void setMin(std::int32_t v);
  // Accepted only when it fits 16 bits and is below Max. No redraw.
  std::int16_t largeChange() const { return largeChange_; }
  void setLargeChange(std::int32_t v);
  // Sizes the thumbs (picture size, or 9 × 9), exchanges the control's width
  // and height (every time, whatever the old value), lays out and redraws.
  // Returns false when the exchange was refused because a side is longer than
  // kMaxExchangeSide: Position is still stored and the layout still runs on the
  // unchanged size, so the control stays usable.
  std::int32_t position() const { return position_; }
  bool setPosition(std::int32_t p);
  // Fill colour of the track and progress holders. No redraw.
  OleColour backColor() const { return picBack_.fillColour; }
  void setBackColor(OleColour c);
  // The normal thumb; also given to empty hover and pressed holders. Redraws.
  const QPixmap &bar() const { return picBar_.picture; }
  void setBar(const QPixmap &picture);
  const QPixmap &barDown() const { return picBarDown_.picture; }
  void setBarDown(const QPixmap &picture);  // no redraw
  const QPixmap &barOver() const { return picBarOver_.picture; }
  void setBarOver(const QPixmap &picture);  // no redraw
  // The track picture; the track takes its size until the next Resize, and
  // an empty progress holder gets it too. Redraws.
  const QPixmap &pictureBack() const { return picBack_.picture; }
  void setPictureBack(const QPixmap &picture);
  const QPixmap &pictureProgress() const { return picBack1_.picture; }
  void setPictureProgress(const QPixmap &picture);  // redraws
  // The cursor over the control. One picture serves assigning, reading,
  // saving and restoring, so a restored cursor is also the one shown.
  const QPixmap &mouseIcon() const { return mouseIcon_; }
  void setMouseIcon(const QPixmap &picture);

  // Empties every picture and the cursor. No redraw, no notice.
  void ResetPictures();

  // ---- Keyboard and assistive tools ----
  // A change the user asked for without the mouse: the value, kept inside
  // Min..Max, is assigned like setValue and, when it changed, raises Change
  // as a drag would. Refused (false) while the thumb is held or when the
  // range is inverted; also false when the value stays as it was.
  bool userSetValue(std::int32_t v);
  bool step(SliderStep step);
  // The page step used by step(): LargeChange, or a tenth of the range (at least 1).
  std::int32_t pageStep() const;

  // ---- Drawing and value ----
  // BarState: 0 normal thumb, 1 pressed, 2 hover, anything else no thumb
  // (while hovered the hover or pressed look wins). Recalc: BarPos from Value first.
  void DrawSlider(std::int32_t barState, bool recalc);
  // Value from BarPos.
  void CalcValue();

  // ---- Mouse on the track ----
  void mousePressed(const SliderMouse &m);
  void mouseMoved(const SliderMouse &m);
  void mouseReleased(const SliderMouse &m);
  // The hover timer fired; the host says whether the cursor is over the control.
  void overTimerTick(bool cursorOverControl);

  // ---- State ----
  std::int32_t barPos() const { return barPos_; }
  bool dragging() const { return dragging_; }
  bool hover() const { return hover_; }
  bool pressed() const { return pressed_; }
  bool overTimerEnabled() const { return overTimer_; }
  bool horizontal() const { return position_ != 0; }
  int controlWidth() const { return controlWidth_; }
  int controlHeight() const { return controlHeight_; }
  int trackLength() const;  // T: picBack along the axis
  int thumbLength() const;  // B: picBar along the axis

  const PictureHolder &picBack() const { return picBack_; }
  const PictureHolder &picBack1() const { return picBack1_; }
  const PictureHolder &picBar() const { return picBar_; }
  const PictureHolder &picBarOver() const { return picBarOver_; }
  const PictureHolder &picBarDown() const { return picBarDown_; }

  // The track surface as last drawn (picBack's size) and how it was drawn.
  const QImage &surface() const { return surface_; }
  const SliderDraw &lastDraw() const { return lastDraw_; }
  int drawCount() const { return drawCount_; }

 private:
  void layout();
  bool exchangeSides();
  std::int32_t offsetFromCursor(float c) const;
  double mirrored(double v) const;
  void setOverTimer(bool on);
  void notice(const char *name);
  void paintSurface(ThumbLook thumb);

  SliderListener *listener_ = nullptr;

  // State, all 0 at creation.
  std::int32_t barPos_ = 0;
  bool dragging_ = false;
  std::int32_t min_ = 0;
  std::int32_t max_ = 0;
  std::int32_t value_ = 0;
  bool hover_ = false;
  bool pressed_ = false;
  std::int16_t largeChange_ = 0;
  std::int32_t position_ = 0;

  bool overTimer_ = false;
  int controlWidth_ = 0;
  int controlHeight_ = 0;

  PictureHolder picBack_{kTrackColour, {}, 0, 0};
  PictureHolder picBack1_{kTrackColour, {}, 0, 0};
  PictureHolder picBar_{kThumbColour, {}, kDefaultThumbSize, kDefaultThumbSize};
  PictureHolder picBarOver_{kHoverColour, {}, kDefaultThumbSize, kDefaultThumbSize};
  PictureHolder picBarDown_{kPressedColour, {}, kDefaultThumbSize, kDefaultThumbSize};
  QPixmap mouseIcon_;

  QImage surface_;
  SliderDraw lastDraw_;
  int drawCount_ = 0;
};

}  // namespace kirasol
