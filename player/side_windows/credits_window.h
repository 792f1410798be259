#pragma once
// frmAbout: fixed captions and, in picCredits, the endlessly scrolling credits
// read from "Credits.txt" in the program folder.
//
// How the main window uses it: keep an OnDemandWindow<CreditsWindow> (see
// on_demand_window.h) whose factory is
//     [&] { return new CreditsWindow(dialogs, QCoreApplication::applicationDirPath()); }
// and call show() on it for the tray menu's about entry. The window deletes
// itself when clicked (any click closes it), so the next request rebuilds
// everything from the file. Construction runs the load; a missing or
// unreadable file shows "Could not load Credits" and leaves a still window.

#include "player/side_windows/credits_scroll.h"

#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <optional>

namespace kirasol {
class Dialogs;
}

namespace kirasol::side {

// picCredits: draws the frame it is given; clicks go to the owner.
class CreditsPicture final : public QWidget {
  Q_OBJECT
 public:
  explicit CreditsPicture(QWidget *parent);
  void setFrame(std::vector<DrawnLine> frame);
  QColor textColor() const { return textColor_; }
  QColor backColor() const { return backColor_; }

 protected:
  void paintEvent(QPaintEvent *) override;

 private:
  std::vector<DrawnLine> frame_;
  QColor textColor_;
  QColor backColor_;
};

class CreditsWindow final : public QWidget {
  Q_OBJECT
 public:
  CreditsWindow(Dialogs &dialogs, const QString &programDir, QWidget *parent = nullptr);

  // Null when the load failed.
  const CreditsScroll *scroll() const { return scroll_ ? &*scroll_ : nullptr; }
  CreditsPicture *picCredits() const { return picCredits_; }
  QTimer *Timer1() const { return Timer1_; }

 public slots:
  // One 10 ms tick: advance, then redraw picCredits.
  void Timer1_Timer();

 protected:
  void mousePressEvent(QMouseEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  void Form_Load(const QString &programDir);

  Dialogs &dialogs_;
  CreditsPicture *picCredits_;
  QTimer *Timer1_ = nullptr;
  std::optional<CreditsScroll> scroll_;
};

}  // namespace kirasol::side
