#pragma once
// When tmrLiveSpec runs. The main window's commands say whether the spectrum
// is wanted (Play: yes, Stop and unload: no); the timer then runs only while
// the window can be seen as well. A window hidden in the tray or minimised
// costs no FFT, no repaint and no timer wake-up, and the spectrum picks up
// again at the next tick after the window comes back.
//
// Use: construct with the window and its tmrLiveSpec, then call setWanted()
// where the window would start or stop the timer. The schedule follows the
// window's show, hide and minimise events through an event filter.

#include <QObject>

class QTimer;
class QWidget;

namespace kirasol::spectrum {

class SpectrumSchedule final : public QObject {
 public:
  SpectrumSchedule(QWidget &window, QTimer &timer);

  void setWanted(bool wanted);
  bool wanted() const { return wanted_; }

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  void apply(bool seen);

  QWidget &window_;
  QTimer &timer_;
  bool wanted_ = false;
};

}  // namespace kirasol::spectrum
