#pragma once
// A listener that records what a SliderModel reports, a helper that builds a
// slider of a given track and thumb length, and the model's invariants.

#include "controls/slider/slider_model.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <ostream>

// Readable failure messages for the recorded event lists.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace kirasol::test {

class RecordingListener : public SliderListener {
 public:
  QStringList events;
  bool timerOn = false;

  void sliderChange(std::int32_t v) override { events << QStringLiteral("Change %1").arg(v); }
  void sliderMouseDown(const SliderMouse &m) override { events << mouse("MouseDown", m); }
  void sliderMouseUp(const SliderMouse &m) override { events << mouse("MouseUp", m); }
  void sliderMouseMove(const SliderMouse &m) override { events << mouse("MouseMove", m); }
  void sliderPropertyChanged(const QString &name) override { events << "Notice " + name; }
  void sliderSizeRequested(int w, int h) override { events << QStringLiteral("Size %1x%2").arg(w).arg(h); }
  void sliderOverTimerSwitched(bool on) override { timerOn = on; }

  // Only the events of one kind, e.g. "Change".
  QStringList only(const QString &kind) const {
    QStringList out;
    for (const auto &e : events) {
      if (e.startsWith(kind + ' ')) out << e;
    }
    return out;
  }

 private:
  static QString mouse(const char *kind, const SliderMouse &m) {
    return QStringLiteral("%1 %2 %3 %4 %5").arg(QLatin1String(kind)).arg(m.button).arg(m.shift).arg(m.x).arg(m.y);
  }
};

// A fresh slider (Initialize), sized so that after assigning `position` its
// track is `track` pixels long and a picture-less thumb 9 pixels.
inline void makeSlider(SliderModel &m, std::int32_t position, int track) {
  m.Initialize();
  const int across = SliderModel::kDefaultThumbSize;
  // Assigning Position exchanges the sides, so start from the exchanged shape.
  if (position != 0) {
    m.Resize(across, track);
  } else {
    m.Resize(track, across);
  }
  m.setPosition(position);
}

inline SliderMouse at(float c, bool horizontal, std::int16_t button = kLeftButton) {
  return horizontal ? SliderMouse{button, 0, c, 4} : SliderMouse{button, 0, 4, c};
}

// What holds between any two steps of the user's interaction.
inline void checkInvariants(const SliderModel &m, const RecordingListener &r, const char *step) {
  SCOPED_TRACE(step);
  // Grabbing sets both, releasing clears both.
  EXPECT_EQ(m.pressed(), m.dragging());
  // The hover look is on exactly while the timer that ends it runs.
  EXPECT_EQ(m.hover(), m.overTimerEnabled());
  EXPECT_EQ(r.timerOn, m.overTimerEnabled());
  if (m.min() <= m.max()) {
    EXPECT_GE(m.value(), m.min());
    EXPECT_LE(m.value(), m.max());
  }
  const int span = m.trackLength() - m.thumbLength();
  if (span >= 0) {
    EXPECT_GE(m.barPos(), 0);
    EXPECT_LE(m.barPos(), span);
  }
  if (m.hover()) {
    EXPECT_EQ(m.lastDraw().thumb, m.pressed() ? ThumbLook::Pressed : ThumbLook::Hover);
  }
  EXPECT_EQ(m.surface().size(), QSize(m.picBack().width, m.picBack().height));
  EXPECT_EQ(m.lastDraw().thumbRect.size(), QSize(m.picBar().width, m.picBar().height));
}

}  // namespace kirasol::test
