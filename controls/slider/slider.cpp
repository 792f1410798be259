#include "controls/slider/slider.h"

#include "controls/slider/slider_accessible.h"

#include <QAccessible>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <optional>

namespace kirasol {

namespace {

std::int16_t buttonCode(Qt::MouseButtons buttons) {
  std::int16_t code = 0;
  if (buttons & Qt::LeftButton) code |= kLeftButton;
  if (buttons & Qt::RightButton) code |= kRightButton;
  if (buttons & Qt::MiddleButton) code |= kMiddleButton;
  return code;
}

std::int16_t shiftCode(Qt::KeyboardModifiers modifiers) {
  std::int16_t code = 0;
  if (modifiers & Qt::ShiftModifier) code |= 1;
  if (modifiers & Qt::ControlModifier) code |= 2;
  if (modifiers & Qt::AltModifier) code |= 4;
  return code;
}

SliderMouse mouseOf(const QMouseEvent *e, Qt::MouseButtons buttons) {
  return SliderMouse{buttonCode(buttons), shiftCode(e->modifiers()),
                     float(e->position().x()), float(e->position().y())};
}

}  // namespace

Slider::Slider(QWidget *parent)
    : QWidget(parent), model_(this), overTimer_(new QTimer(this)) {
  setMouseTracking(true);  // the hover look needs moves without a button
  overTimer_->setObjectName(QStringLiteral("OverTimer"));
  overTimer_->setInterval(10);
  connect(overTimer_, &QTimer::timeout, this, &Slider::overTimerTick);
  // Reached with Tab and by a click, as sliders are.
  setFocusPolicy(Qt::StrongFocus);
  installSliderAccessible();
  model_.Resize(width(), height());
  model_.Initialize();
  announcedValue_ = model_.value();
}

QSize Slider::sizeHint() const { return {100, 13}; }

void Slider::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.drawImage(0, 0, model_.surface());
  if (hasFocus()) {
    // Drawn over the track, not into the model's surface: the focus is the
    // widget's business, and the pictures stay as the model drew them.
    QPen pen(palette().color(QPalette::Highlight));
    pen.setStyle(Qt::DotLine);
    p.setPen(pen);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
  }
}

void Slider::resizeEvent(QResizeEvent *) {
  // Our own exchange already told the model this size; Resize runs the layout again,
  // which is harmless.
  model_.Resize(width(), height());
}

void Slider::mousePressEvent(QMouseEvent *e) { model_.mousePressed(mouseOf(e, e->button())); }
void Slider::mouseMoveEvent(QMouseEvent *e) { model_.mouseMoved(mouseOf(e, e->buttons())); }
void Slider::mouseReleaseEvent(QMouseEvent *e) { model_.mouseReleased(mouseOf(e, e->button())); }

void Slider::keyPressEvent(QKeyEvent *e) {
  // Vertical sliders have their maximum at the top, so Up raises the value
  // either way; Right raises it too, as on a horizontal track.
  std::optional<SliderStep> step;
  switch (e->key()) {
    case Qt::Key_Up:
    case Qt::Key_Right: step = SliderStep::Up; break;
    case Qt::Key_Down:
    case Qt::Key_Left: step = SliderStep::Down; break;
    case Qt::Key_PageUp: step = SliderStep::PageUp; break;
    case Qt::Key_PageDown: step = SliderStep::PageDown; break;
    case Qt::Key_Home: step = SliderStep::ToMin; break;
    case Qt::Key_End: step = SliderStep::ToMax; break;
    default: break;
  }
  if (!step || (e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
    QWidget::keyPressEvent(e);  // not ours: the window may want it
    return;
  }
  model_.step(*step);  // at an end nothing moves, but the key is still the slider's
  e->accept();
}

void Slider::focusInEvent(QFocusEvent *e) {
  QWidget::focusInEvent(e);
  update();
}

void Slider::focusOutEvent(QFocusEvent *e) {
  QWidget::focusOutEvent(e);
  update();
}

void Slider::announceValue() {
  if (model_.value() == announcedValue_) return;
  announcedValue_ = model_.value();
  QAccessibleValueChangeEvent event(this, announcedValue_);
  QAccessible::updateAccessibility(&event);
}

void Slider::overTimerTick() {
  model_.overTimerTick(QApplication::widgetAt(QCursor::pos()) == this);
}

void Slider::sliderChange(std::int32_t value) {
  announceValue();
  emit Change(value);
}
void Slider::sliderMouseDown(const SliderMouse &m) { emit MouseDown(m.button, m.shift, m.x, m.y); }
void Slider::sliderMouseUp(const SliderMouse &m) { emit MouseUp(m.button, m.shift, m.x, m.y); }
void Slider::sliderMouseMove(const SliderMouse &m) { emit MouseMove(m.button, m.shift, m.x, m.y); }
void Slider::sliderPropertyChanged(const QString &name) {
  announceValue();  // Value, Min and Max may all move the value
  emit PropertyChanged(name);
}
void Slider::sliderSizeRequested(int width, int height) { resize(width, height); }

void Slider::sliderOverTimerSwitched(bool enabled) {
  if (enabled) {
    overTimer_->start();
  } else {
    overTimer_->stop();
  }
}

void Slider::sliderRefreshed() { update(); }

void Slider::sliderCursorChanged(const QPixmap &cursor) {
  if (cursor.isNull()) {
    unsetCursor();
  } else {
    setCursor(QCursor(cursor));
  }
}

}  // namespace kirasol
