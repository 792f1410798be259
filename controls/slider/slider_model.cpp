#include "controls/slider/slider_model.h"

#include "common/text_rules.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

namespace kirasol {

QColor colourFromOle(OleColour colour) {
  if (colour & 0x80000000u) {
    const QPalette palette = QGuiApplication::palette();
    switch (colour & 0xFFu) {
      case 0x01: return palette.color(QPalette::Window);          // desktop
      case 0x05: return palette.color(QPalette::Base);            // window
      case 0x08: return palette.color(QPalette::WindowText);      // window text
      case 0x0D: return palette.color(QPalette::Highlight);
      case 0x0E: return palette.color(QPalette::HighlightedText);
      case 0x12: return palette.color(QPalette::ButtonText);
      default: return palette.color(QPalette::Button);            // button face and the rest
    }
  }
  return QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF));
}

void PictureHolder::sizeToPicture() {
  if (picture.isNull()) return;
  width = picture.width();
  height = picture.height();
}

QImage PictureHolder::render() const {
  if (width <= 0 || height <= 0) return {};
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(colourFromOle(fillColour));
  if (!picture.isNull()) {
    QPainter p(&image);
    p.drawPixmap(0, 0, picture);
  }
  return image;
}

namespace {

// Property keys and defaults of the saved set.
const QString kPictureBack = QStringLiteral("PictureBack");
const QString kMouseIcon = QStringLiteral("MouseIcon");
const QString kPictureProgress = QStringLiteral("PictureProgress");
const QString kBar = QStringLiteral("Bar");
const QString kBarOver = QStringLiteral("BarOver");
const QString kBarDown = QStringLiteral("BarDown");
const QString kBackColor = QStringLiteral("BackColor");
const QString kMin = QStringLiteral("Min");
const QString kMax = QStringLiteral("Max");
const QString kLargeChange = QStringLiteral("LargeChange");
const QString kValue = QStringLiteral("Value");
const QString kPosition = QStringLiteral("Position");
constexpr std::int32_t kDefaultMax = 100;

QVariant pictureVariant(const QPixmap &p) {
  return p.isNull() ? QVariant() : QVariant::fromValue(p);
}

QPixmap readPicture(const PropertyStore &store, const QString &key) {
  const QVariant v = store.read(key, QVariant());
  if (v.metaType().id() == QMetaType::QPixmap) return v.value<QPixmap>();
  if (v.metaType().id() == QMetaType::QImage) return QPixmap::fromImage(v.value<QImage>());
  return {};
}

// A stored number within [lo, hi], or the default when it is absent,
// not a number or out of range.
qint64 readNumber(const PropertyStore &store, const QString &key, qint64 defaultValue,
                  qint64 lo, qint64 hi) {
  bool ok = false;
  const qint64 n = store.read(key, QVariant(defaultValue)).toLongLong(&ok);
  return ok && n >= lo && n <= hi ? n : defaultValue;
}

constexpr qint64 kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr qint64 kInt32Max = std::numeric_limits<std::int32_t>::max();

std::optional<std::int32_t> fitInt32(qint64 v) {
  if (v < kInt32Min || v > kInt32Max) return std::nullopt;
  return static_cast<std::int32_t>(v);
}

}  // namespace

SliderModel::SliderModel(SliderListener *listener) : listener_(listener) {}

// ---- Host events ----

void SliderModel::Initialize() {
  if (max_ == 0) max_ = kDefaultMax;
  DrawSlider(0, true);
}

void SliderModel::Resize(int innerWidth, int innerHeight) {
  controlWidth_ = innerWidth;
  controlHeight_ = innerHeight;
  layout();
}

void SliderModel::layout() {
  picBack_.width = controlWidth_;
  picBack_.height = controlHeight_;
  picBack1_.width = picBack_.width;
  picBack1_.height = picBack_.height;
  for (PictureHolder *thumb : {&picBar_, &picBarDown_, &picBarOver_}) {
    if (horizontal()) {
      thumb->height = controlHeight_;
    } else {
      thumb->width = controlWidth_;
    }
  }
  DrawSlider(0, true);
}

bool SliderModel::ReadProperties(const PropertyStore &store) {
  picBack_.picture = readPicture(store, kPictureBack);
  mouseIcon_ = readPicture(store, kMouseIcon);
  if (listener_) listener_->sliderCursorChanged(mouseIcon_);
  picBack1_.picture = readPicture(store, kPictureProgress);
  picBarDown_.picture = readPicture(store, kBarDown);
  picBarOver_.picture = readPicture(store, kBarOver);
  picBar_.picture = readPicture(store, kBar);

  picBack_.fillColour = static_cast<OleColour>(
      readNumber(store, kBackColor, kButtonFace, kInt32Min, 0xFFFFFFFFll));
  picBack1_.fillColour = picBack_.fillColour;

  min_ = static_cast<std::int32_t>(readNumber(store, kMin, 0, kInt32Min, kInt32Max));
  max_ = static_cast<std::int32_t>(readNumber(store, kMax, kDefaultMax, kInt32Min, kInt32Max));
  largeChange_ = static_cast<std::int16_t>(readNumber(
      store, kLargeChange, 0, std::numeric_limits<std::int16_t>::min(),
      std::numeric_limits<std::int16_t>::max()));
  value_ = static_cast<std::int32_t>(readNumber(store, kValue, 0, kInt32Min, kInt32Max));

  const bool exchanged = setPosition(
      static_cast<std::int32_t>(readNumber(store, kPosition, 0, kInt32Min, kInt32Max)));
  DrawSlider(0, true);
  return exchanged;
}

void SliderModel::WriteProperties(PropertyStore &store) const {
  store.write(kPictureBack, pictureVariant(picBack_.picture), QVariant());
  store.write(kMouseIcon, pictureVariant(mouseIcon_), QVariant());
  store.write(kPictureProgress, pictureVariant(picBack1_.picture), QVariant());
  store.write(kBar, pictureVariant(picBar_.picture), QVariant());
  store.write(kBarOver, pictureVariant(picBarOver_.picture), QVariant());
  store.write(kBarDown, pictureVariant(picBarDown_.picture), QVariant());
  store.write(kBackColor, QVariant::fromValue<quint32>(picBack_.fillColour),
              QVariant::fromValue<quint32>(kButtonFace));
  store.write(kMin, QVariant::fromValue<qint32>(min_), QVariant::fromValue<qint32>(0));
  store.write(kMax, QVariant::fromValue<qint32>(max_), QVariant::fromValue<qint32>(kDefaultMax));
  store.write(kLargeChange, QVariant::fromValue<qint16>(largeChange_),
              QVariant::fromValue<qint16>(0));
  store.write(kValue, QVariant::fromValue<qint32>(value_), QVariant::fromValue<qint32>(0));
  store.write(kPosition, QVariant::fromValue<qint32>(position_), QVariant::fromValue<qint32>(0));
}

// ---- Properties ----

void SliderModel::notice(const char *name) {
  if (listener_) listener_->sliderPropertyChanged(QString::fromLatin1(name));
}

void SliderModel::setValue(std::int32_t v) {
  if (v < min_ || v > max_ || pressed_) return;
  value_ = v;
  DrawSlider(0, true);
  notice("Value");
}

bool SliderModel::userSetValue(std::int32_t v) {
  if (pressed_ || min_ > max_) return false;
  v = std::clamp(v, min_, max_);
  if (v == value_) return false;
  setValue(v);
  if (listener_) listener_->sliderChange(value_);
  return true;
}

std::int32_t SliderModel::pageStep() const {
  if (largeChange_ > 0) return largeChange_;
  const std::int64_t range = std::int64_t(max_) - min_;
  return std::int32_t(std::clamp<std::int64_t>(range / 10, 1, INT32_MAX));
}

bool SliderModel::step(SliderStep step) {
  // 64-bit sums: a step past either end of a 32-bit range is clamped, not wrapped.
  const std::int64_t v = value_;
  switch (step) {
    case SliderStep::Down: return userSetValue(std::int32_t(std::max<std::int64_t>(v - 1, min_)));
    case SliderStep::Up: return userSetValue(std::int32_t(std::min<std::int64_t>(v + 1, max_)));
    case SliderStep::PageDown: return userSetValue(std::int32_t(std::max<std::int64_t>(v - pageStep(), min_)));
    case SliderStep::PageUp: return userSetValue(std::int32_t(std::min<std::int64_t>(v + pageStep(), max_)));
    case SliderStep::ToMin: return userSetValue(min_);
    case SliderStep::ToMax: return userSetValue(max_);
  }
  return false;
}

void SliderModel::setMax(std::int32_t v) {
  if (value_ > v) value_ = v;
  max_ = v;
  DrawSlider(0, true);
  notice("Max");
}

void SliderModel::setMin(std::int32_t v) {
  if (v > value_) value_ = v;
  min_ = v;
  DrawSlider(0, true);
  notice("Min");
}

void SliderModel::setLargeChange(std::int32_t v) {
  if (v < std::numeric_limits<std::int16_t>::min() ||
      v > std::numeric_limits<std::int16_t>::max() || v >= max_) {
    return;
  }
  largeChange_ = static_cast<std::int16_t>(v);
  notice("LargeChange");
}

bool SliderModel::setPosition(std::int32_t p) {
  position_ = p;
  if (picBar_.hasPicture()) {
    picBar_.sizeToPicture();
  } else {
    picBar_.width = kDefaultThumbSize;
    picBar_.height = kDefaultThumbSize;
  }
  for (PictureHolder *thumb : {&picBarOver_, &picBarDown_}) {
    thumb->width = picBar_.width;
    thumb->height = picBar_.height;
  }
  const bool exchanged = exchangeSides();
  layout();
  notice("Position");
  return exchanged;
}

bool SliderModel::exchangeSides() {
  // The sides travel as 16-bit twips. Both are checked before either changes
  // so that a refused exchange never leaves a half-exchanged control.
  const int w = controlWidth_;
  const int h = controlHeight_;
  if (std::abs(w) > kMaxExchangeSide || std::abs(h) > kMaxExchangeSide) return false;
  controlWidth_ = h;
  controlHeight_ = w;
  if (listener_) listener_->sliderSizeRequested(h, w);
  return true;
}

void SliderModel::setBackColor(OleColour c) {
  picBack_.fillColour = c;
  picBack1_.fillColour = c;
  notice("BackColor");
}

void SliderModel::setBar(const QPixmap &picture) {
  picBar_.picture = picture;
  picBar_.sizeToPicture();
  for (PictureHolder *thumb : {&picBarDown_, &picBarOver_}) {
    if (!thumb->hasPicture()) {
      thumb->picture = picBar_.picture;
      thumb->sizeToPicture();
    }
  }
  DrawSlider(0, true);
  notice("Bar");
}

void SliderModel::setBarDown(const QPixmap &picture) {
  picBarDown_.picture = picture;
  picBarDown_.sizeToPicture();
  notice("BarDown");
}

void SliderModel::setBarOver(const QPixmap &picture) {
  picBarOver_.picture = picture;
  picBarOver_.sizeToPicture();
  notice("BarOver");
}

void SliderModel::setPictureBack(const QPixmap &picture) {
  picBack_.picture = picture;
  picBack_.sizeToPicture();
  if (!picBack1_.hasPicture()) {
    picBack1_.picture = picBack_.picture;
    picBack1_.sizeToPicture();
  }
  DrawSlider(0, true);
  notice("PictureBack");
}

void SliderModel::setPictureProgress(const QPixmap &picture) {
  picBack1_.picture = picture;
  picBack1_.sizeToPicture();
  DrawSlider(0, true);
  notice("PictureProgress");
}

void SliderModel::setMouseIcon(const QPixmap &picture) {
  mouseIcon_ = picture;
  if (listener_) listener_->sliderCursorChanged(mouseIcon_);
  notice("MouseIcon");
}

void SliderModel::ResetPictures() {
  for (PictureHolder *h : {&picBack_, &picBack1_, &picBar_, &picBarOver_, &picBarDown_}) {
    h->picture = QPixmap();
  }
  mouseIcon_ = QPixmap();
  if (listener_) listener_->sliderCursorChanged(mouseIcon_);
}

// ---- Drawing and value ----

int SliderModel::trackLength() const { return horizontal() ? picBack_.width : picBack_.height; }
int SliderModel::thumbLength() const { return horizontal() ? picBar_.width : picBar_.height; }

double SliderModel::mirrored(double v) const {
  // A vertical slider has its maximum at the top. Reflecting within the range
  // (Max + Min - v) keeps the value inside Min..Max for any range; for Min 0
  // this is Max - v and for a range symmetric about 0 it is -v.
  return double(max_) + double(min_) - v;
}

void SliderModel::DrawSlider(std::int32_t barState, bool recalc) {
  if (recalc) {
    const double range = double(max_) - double(min_);
    if (range != 0) {
      const double v = horizontal() ? double(value_) : mirrored(double(value_));
      const double span = double(trackLength()) - double(thumbLength());
      if (const auto pos = toInt32((v - double(min_)) / range * span)) barPos_ = *pos;
    }
  }
  // Drawing coordinates are 16-bit; an offset beyond that draws at 0.
  const std::int16_t offset = toInt16(double(barPos_)).value_or(0);
  lastDraw_.x = horizontal() ? offset : std::int16_t(0);
  lastDraw_.y = horizontal() ? std::int16_t(0) : offset;

  if (hover_) {
    lastDraw_.thumb = pressed_ ? ThumbLook::Pressed : ThumbLook::Hover;
  } else {
    switch (barState) {
      case 0: lastDraw_.thumb = ThumbLook::Normal; break;
      case 1: lastDraw_.thumb = ThumbLook::Pressed; break;
      case 2: lastDraw_.thumb = ThumbLook::Hover; break;
      default: lastDraw_.thumb = ThumbLook::None; break;
    }
  }
  if (horizontal()) {
    lastDraw_.progress = QRect(0, 0, lastDraw_.x, picBack1_.height);
  } else {
    lastDraw_.progress = QRect(0, lastDraw_.y, picBack1_.width, picBack1_.height);
  }
  lastDraw_.thumbRect = QRect(lastDraw_.x, lastDraw_.y, picBar_.width, picBar_.height);
  paintSurface(lastDraw_.thumb);
  ++drawCount_;
  if (listener_) listener_->sliderRefreshed();
}

void SliderModel::paintSurface(ThumbLook thumb) {
  surface_ = picBack_.render();
  if (surface_.isNull()) return;
  QPainter p(&surface_);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  // A copy from a holder takes only what lies on the holder; the rest of the
  // destination keeps what it had.
  const auto copy = [&p](const PictureHolder &from, const QRect &source, const QPoint &dest) {
    const QRect clipped = source & QRect(0, 0, from.width, from.height);
    if (clipped.isEmpty()) return;
    p.drawImage(dest + (clipped.topLeft() - source.topLeft()), from.render(), clipped);
  };
  copy(picBack1_, lastDraw_.progress, lastDraw_.progress.topLeft());
  const PictureHolder *look = nullptr;
  switch (thumb) {
    case ThumbLook::Normal: look = &picBar_; break;
    case ThumbLook::Pressed: look = &picBarDown_; break;
    case ThumbLook::Hover: look = &picBarOver_; break;
    case ThumbLook::None: break;
  }
  if (look) {
    copy(*look, QRect(0, 0, picBar_.width, picBar_.height), lastDraw_.thumbRect.topLeft());
  }
}

void SliderModel::CalcValue() {
  const double span = double(trackLength()) - double(thumbLength());
  // With the thumb as long as the track there is no offset to read a value
  // from: Value stays as it is (no mirroring of an unchanged value either).
  if (span == 0) return;
  const auto v = toInt32(double(barPos_) / span * (double(max_) - double(min_)) + double(min_));
  if (!v) return;
  if (horizontal()) {
    value_ = *v;
  } else if (const auto m = fitInt32(qint64(max_) + qint64(min_) - qint64(*v))) {
    value_ = *m;
  }
}

// ---- Mouse ----

std::int32_t SliderModel::offsetFromCursor(float c) const {
  // The thumb's centre follows the cursor and stays on the track.
  const double track = trackLength();
  const double thumb = thumbLength();
  const double half = thumb / 2;
  double p = std::isnan(c) ? 0.0 : roundHalfEven(double(c));
  if (p > track - half) p = roundHalfEven(track - half);
  if (half > p) p = roundHalfEven(half);
  p = roundHalfEven(p - half);
  // With an odd thumb, rounding both ends to even can leave the offset one
  // pixel past the end (T 100, B 9: N(N(95.5) - 4.5) = 92 > 91), which would
  // read back as a value above Max. Keep it on the track.
  if (track >= thumb) p = std::clamp(p, 0.0, track - thumb);
  return static_cast<std::int32_t>(p);
}

void SliderModel::mousePressed(const SliderMouse &m) {
  if (m.button != kLeftButton) return;
  const float c = horizontal() ? m.x : m.y;
  const bool onThumb = c >= float(barPos_) && float(double(barPos_) + thumbLength()) >= c;
  if (onThumb) {
    dragging_ = true;
    pressed_ = true;
    DrawSlider(1, false);
  } else if (largeChange_ != 0) {
    const qint64 target = c > float(barPos_) ? qint64(value_) + largeChange_
                                             : qint64(value_) - largeChange_;
    // A sum beyond 32 bits is outside Min..Max as well: dropped like one.
    if (const auto v = fitInt32(target)) setValue(*v);
  } else {
    // Only the stored offset moves; the release turns it into a value.
    barPos_ = offsetFromCursor(c);
  }
  if (listener_) listener_->sliderMouseDown(m);
}

void SliderModel::mouseMoved(const SliderMouse &m) {
  if (dragging_) {
    barPos_ = offsetFromCursor(horizontal() ? m.x : m.y);
    CalcValue();
    DrawSlider(1, false);
    if (listener_) listener_->sliderChange(value_);
  } else if (!hover_) {
    hover_ = true;
    DrawSlider(2, false);
    setOverTimer(true);
  }
  if (listener_) listener_->sliderMouseMove(m);
}

void SliderModel::mouseReleased(const SliderMouse &m) {
  if (!dragging_) {
    CalcValue();
    if (listener_) listener_->sliderChange(value_);
  }
  pressed_ = false;
  DrawSlider(0, true);
  dragging_ = false;
  if (listener_) listener_->sliderMouseUp(m);
}

void SliderModel::overTimerTick(bool cursorOverControl) {
  if (!overTimer_ || cursorOverControl) return;
  setOverTimer(false);
  hover_ = false;
  DrawSlider(0, false);
}

void SliderModel::setOverTimer(bool on) {
  if (overTimer_ == on) return;
  overTimer_ = on;
  if (listener_) listener_->sliderOverTimerSwitched(on);
}

}  // namespace kirasol
