#pragma once
// A PlaybackView that keeps the current texts and the history of changes.

#include "player/playback/playback_view.h"

#include <QStringList>

namespace kirasol::test {

struct RecordingView final : PlaybackView {
  QString station = QStringLiteral("Kirasol Radio"), bitRate = QStringLiteral("credit"),
          song = QStringLiteral("Current Song "), cpu = QStringLiteral("0.0");
  bool netRadioTimer = true;
  QStringList history;  // "name:<text>", "bps:<text>", "song:<text>", "timer:on/off"

  void setStationText(const QString &t) override { station = t, history << "name:" + t; }
  void setBitRateText(const QString &t) override { bitRate = t, history << "bps:" + t; }
  void setSongText(const QString &t) override { song = t, history << "song:" + t; }
  void setCpuText(const QString &t) override { cpu = t; }
  void setNetRadioTimerEnabled(bool on) override {
    netRadioTimer = on;
    history << (on ? QStringLiteral("timer:on") : QStringLiteral("timer:off"));
  }
  QWidget *boxOwner() override { return nullptr; }
};

}  // namespace kirasol::test
