#pragma once
// Keyboard and screen-reader support for the skinned main window.
//
// The window draws its own face, so the usual style cues are gone: these
// controls draw their own focus mark (a dotted frame in the skin's accent
// colour), take Space and Enter, and tell assistive tools what they are.
// describeMainWindow() gives every control of the window its accessible name
// (the Thai caption the tray menu uses for the same command; the English
// design caption stays the description), the Tab order, and keeps the
// station and song labels readable while their marquees rotate the text.

#include <QAccessibleWidget>
#include <QLabel>
#include <QPushButton>
#include <functional>

class QPainter;

namespace kirasol {

class FrmMain;

// The skin's accent colour, used for the focus mark.
QColor skinAccent();
// The focus mark of a skinned control, drawn last in its paintEvent.
void paintFocusMark(QPainter &painter, const QWidget &widget);

// A skinned push button: reached with Tab (a mouse click leaves no focus
// mark behind), pressed with Space as every button is and with Enter or
// Return, which plain push buttons take only in dialogs.
class SkinButton : public QPushButton {
  Q_OBJECT
 public:
  explicit SkinButton(const QString &caption, QWidget *parent = nullptr);

 protected:
  void paintEvent(QPaintEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
};

// A label without a caption that acts as a small hot spot: to assistive tools
// and the keyboard it is a button (Tab, Space, Enter, the press action).
class SkinHotSpot : public QLabel {
  Q_OBJECT
 public:
  explicit SkinHotSpot(QWidget *parent = nullptr);
  std::function<void()> clicked;
  void press() {
    if (clicked) clicked();
  }

 protected:
  void paintEvent(QPaintEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
};

class HotSpotAccessible final : public QAccessibleWidget {
 public:
  explicit HotSpotAccessible(SkinHotSpot *spot);
  QStringList actionNames() const override;
  void doAction(const QString &actionName) override;
};

// Names, descriptions and Tab order of the main window's controls.
void describeMainWindow(FrmMain &window);

}  // namespace kirasol
