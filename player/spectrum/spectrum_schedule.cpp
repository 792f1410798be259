#include "player/spectrum/spectrum_schedule.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace kirasol::spectrum {

SpectrumSchedule::SpectrumSchedule(QWidget &window, QTimer &timer) : QObject(&window), window_(window), timer_(timer) {
  window_.installEventFilter(this);
}

void SpectrumSchedule::setWanted(bool wanted) {
  wanted_ = wanted;
  apply(window_.isVisible() && !window_.isMinimized());
}

bool SpectrumSchedule::eventFilter(QObject *watched, QEvent *event) {
  if (watched != &window_) return false;
  // Judged from the event itself: a window the window manager iconifies gets
  // a (spontaneous) hide event while isVisible() stays true.
  switch (event->type()) {
    case QEvent::Show:
      apply(!window_.isMinimized());
      break;
    case QEvent::Hide:
      apply(false);
      break;
    case QEvent::WindowStateChange:
      if (window_.isMinimized()) {
        apply(false);
      } else if (window_.isVisible()) {
        apply(true);
      }
      break;
    default:
      break;
  }
  return false;
}

void SpectrumSchedule::apply(bool seen) {
  const bool run = wanted_ && seen;
  if (run == timer_.isActive()) return;
  if (run) {
    timer_.start();
  } else {
    timer_.stop();
  }
}

}  // namespace kirasol::spectrum
