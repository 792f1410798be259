#pragma once
// The skinned slider control as a widget. All rules live in SliderModel; this
// class feeds it the mouse, the size and the hover timer, shows its track
// surface and turns its events into signals.
//
// Use by a window (the main window's volume slider):
//
//   auto *sldVol = new kirasol::Slider(this);          // runs Initialize: Max 100
//   sldVol->setObjectName("sldVol");
//   sldVol->ReadProperties(kirasol::MemoryPropertyStore{
//       {"BackColor", 0}, {"Value", 50}, {"Position", 1}});  // the saved set
//   sldVol->setGeometry(x, y, width, height);          // after restoring, see below
//   sldVol->setBar(QPixmap(...));                      // optional skin pictures
//   connect(sldVol, &kirasol::Slider::Change, this, [](int v) { ... });
//
// Order matters once: assigning Position (which restoring does) exchanges the
// control's width and height, so place the control with setGeometry after
// ReadProperties/setPosition; later resizes only lay it out again. Qt delivers
// the resize of a hidden widget when it is shown, so model() reflects a new
// geometry (track length, BarPos) from then on.
//
// Change is raised only for the user's changes (drags, clicks); setValue()
// from code redraws but raises nothing. Value, Min, Max and LargeChange follow
// the rules in slider_model.h (out-of-range assignments are dropped).
//
// The keyboard works it as any slider: the arrow keys move the value by 1
// (up and right raise it), Page Up/Down by a page, Home/End go to Min/Max;
// each such change raises Change. With the focus the control draws a dotted
// frame in the palette's highlight colour. Assistive tools see it through
// SliderAccessible (slider_accessible.h).
//
// The control is its own track surface: it receives the mouse (Qt's implicit
// grab keeps a drag going outside it) and ends the hover look with the
// 10 ms timer "OverTimer" once the cursor is over another widget.

#include "controls/slider/property_store.h"
#include "controls/slider/slider_model.h"

#include <QTimer>
#include <QWidget>

namespace kirasol {

class Slider : public QWidget, private SliderListener {
  Q_OBJECT

 public:
  explicit Slider(QWidget *parent = nullptr);

  int value() const { return model_.value(); }
  void setValue(int v) { model_.setValue(v); }
  int max() const { return model_.max(); }
  void setMax(int v) { model_.setMax(v); }
  int min() const { return model_.min(); }
  void setMin(int v) { model_.setMin(v); }
  int largeChange() const { return model_.largeChange(); }
  void setLargeChange(int v) { model_.setLargeChange(v); }
  int position() const { return model_.position(); }
  bool setPosition(int p) { return model_.setPosition(p); }  // false: see SliderModel
  OleColour backColor() const { return model_.backColor(); }
  void setBackColor(OleColour c) { model_.setBackColor(c); }  // 0x00BBGGRR

  QPixmap bar() const { return model_.bar(); }
  void setBar(const QPixmap &p) { model_.setBar(p); }
  QPixmap barDown() const { return model_.barDown(); }
  void setBarDown(const QPixmap &p) { model_.setBarDown(p); }
  QPixmap barOver() const { return model_.barOver(); }
  void setBarOver(const QPixmap &p) { model_.setBarOver(p); }
  QPixmap pictureBack() const { return model_.pictureBack(); }
  void setPictureBack(const QPixmap &p) { model_.setPictureBack(p); }
  QPixmap pictureProgress() const { return model_.pictureProgress(); }
  void setPictureProgress(const QPixmap &p) { model_.setPictureProgress(p); }
  QPixmap mouseIcon() const { return model_.mouseIcon(); }
  void setMouseIcon(const QPixmap &p) { model_.setMouseIcon(p); }
  void ResetPictures() { model_.ResetPictures(); }

  // A change the user asked for without the mouse (keys, assistive tools):
  // kept inside Min..Max, raises Change when the value moved.
  bool userSetValue(int v) { return model_.userSetValue(v); }
  bool userStep(SliderStep step) { return model_.step(step); }

  // Restore and save the control's own keys; the host keeps the extent.
  bool ReadProperties(const PropertyStore &store) { return model_.ReadProperties(store); }
  void WriteProperties(PropertyStore &store) const { model_.WriteProperties(store); }

  const SliderModel &model() const { return model_; }
  QSize sizeHint() const override;

 signals:
  // The user moved the value to `value`.
  void Change(int value);
  // button 1 left, 2 right, 4 middle (held buttons for moves); shift 1 Shift,
  // 2 Ctrl, 4 Alt; x, y in pixels on the control. MouseDown is left-only.
  void MouseDown(int button, int shift, float x, float y);
  void MouseUp(int button, int shift, float x, float y);
  void MouseMove(int button, int shift, float x, float y);
  // A property was assigned ("Value", "Max", "Min", "Position", ...).
  void PropertyChanged(const QString &name);

 protected:
  void paintEvent(QPaintEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  void focusInEvent(QFocusEvent *event) override;
  void focusOutEvent(QFocusEvent *event) override;

 private:
  void sliderChange(std::int32_t value) override;
  void sliderMouseDown(const SliderMouse &m) override;
  void sliderMouseUp(const SliderMouse &m) override;
  void sliderMouseMove(const SliderMouse &m) override;
  void sliderPropertyChanged(const QString &name) override;
  void sliderSizeRequested(int width, int height) override;
  void sliderOverTimerSwitched(bool enabled) override;
  void sliderRefreshed() override;
  void sliderCursorChanged(const QPixmap &cursor) override;

  void overTimerTick();
  void announceValue();

  SliderModel model_;
  QTimer *overTimer_;  // child "OverTimer"
  int announcedValue_ = 0;  // the value assistive tools were last told
};

}  // namespace kirasol
