#include "player/spectrum/spectrum_schedule.h"

#include <QTimer>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>

namespace kirasol::spectrum {
namespace {

// tmrLiveSpec runs only while the spectrum is wanted and the window is seen;
// it picks up again when the window comes back, unless Stop came meanwhile.
TEST(SpectrumSchedule, TimerRunsOnlyWhileWantedAndSeen) {
  QWidget window;
  QTimer timer;
  timer.setInterval(25);
  SpectrumSchedule schedule(window, timer);
  struct Step {
    const char *what;
    std::function<void()> act;
    bool running;
  };
  const Step steps[] = {
      {"Play before the window shows", [&] { schedule.setWanted(true); }, false},
      {"window shown", [&] { window.show(); }, true},
      {"hidden in the tray", [&] { window.hide(); }, false},
      {"restored", [&] { window.showNormal(); }, true},
      {"minimised", [&] { window.setWindowState(Qt::WindowMinimized); }, false},
      {"un-minimised", [&] { window.setWindowState(Qt::WindowNoState); }, true},
      {"hidden again", [&] { window.hide(); }, false},
      {"Stop while hidden", [&] { schedule.setWanted(false); }, false},
      {"shown after Stop", [&] { window.show(); }, false},
      {"Play while shown", [&] { schedule.setWanted(true); }, true},
  };
  for (const Step &step : steps) {
    step.act();
    EXPECT_EQ(timer.isActive(), step.running) << step.what;
  }
}

}  // namespace
}  // namespace kirasol::spectrum
