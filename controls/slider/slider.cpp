#include "controls/slider/slider.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>

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
  model_.Resize(width(), height());
  model_.Initialize();
}

QSize Slider::sizeHint() const { return {100, 13}; }

void Slider::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.drawImage(0, 0, model_.surface());
}

void Slider::resizeEvent(QResizeEvent *) {
  // Our own exchange already told the model this size; Resize runs the layout again,
  // which is harmless.
  model_.Resize(width(), height());
}

void Slider::mousePressEvent(QMouseEvent *e) { model_.mousePressed(mouseOf(e, e->button())); }
void Slider::mouseMoveEvent(QMouseEvent *e) { model_.mouseMoved(mouseOf(e, e->buttons())); }
void Slider::mouseReleaseEvent(QMouseEvent *e) { model_.mouseReleased(mouseOf(e, e->button())); }

void Slider::overTimerTick() {
  model_.overTimerTick(QApplication::widgetAt(QCursor::pos()) == this);
}

void Slider::sliderChange(std::int32_t value) { emit Change(value); }
void Slider::sliderMouseDown(const SliderMouse &m) { emit MouseDown(m.button, m.shift, m.x, m.y); }
void Slider::sliderMouseUp(const SliderMouse &m) { emit MouseUp(m.button, m.shift, m.x, m.y); }
void Slider::sliderMouseMove(const SliderMouse &m) { emit MouseMove(m.button, m.shift, m.x, m.y); }
void Slider::sliderPropertyChanged(const QString &name) { emit PropertyChanged(name); }
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
