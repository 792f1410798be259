#pragma once
// What the playback module changes on the main window. Called on the UI thread
// only; the module hands every update from its worker and from the library's
// threads over to that thread first.

#include <QString>

class QWidget;

namespace kirasol {

class PlaybackView {
 public:
  virtual ~PlaybackView() = default;
  virtual void setStationText(const QString &text) = 0;  // lblName
  virtual void setBitRateText(const QString &text) = 0;  // lblBPS
  virtual void setSongText(const QString &text) = 0;     // lblSong
  virtual void setCpuText(const QString &text) = 0;      // lblCPU
  virtual void setNetRadioTimerEnabled(bool enabled) = 0;  // tmrNetRadio
  // The window that owns the stream error box.
  virtual QWidget *boxOwner() = 0;
};

}  // namespace kirasol
