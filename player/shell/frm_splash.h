#pragma once
// frmSplash: refuses a second copy, reads the installed version, plays the
// start-up sound on every activation, lets the update check run once, then
// fades out in 25 steps and hands over to the main window.

#include "common/dialogs.h"
#include "player/shell/splash_sequence.h"

#include <QWidget>
#include <functional>

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSoundEffect;
class QTimer;

namespace kirasol {

class InstanceGuard;

class FrmSplash : public QWidget {
  Q_OBJECT
 public:
  struct Services {
    Dialogs &dialogs;
    InstanceGuard &guard;
    std::function<void(int)> endProgram;   // ends the process at once (does not return in the player)
    std::function<void()> showMainWindow;  // shows frmMain (its load runs inside)
  };
  explicit FrmSplash(Services services, QWidget *parent = nullptr);

  // The window's load: version.dat from the current folder, then the
  // previous-instance test. False when the program was ended.
  bool load();

  QString installedVersion() const { return InstalledVersion; }
  const SplashSequence &sequence() const { return sequence_; }
  int soundStarts() const { return soundStarts_; }

  // Command1's click: the update check. Empty until one is installed.
  void setUpdateCheck(std::function<void(FrmSplash &)> check) { updateCheck_ = std::move(check); }

  // For the update check's outcomes: stop the countdown while asking; after
  // a declined update resume (Timer3) and take one fade step at once.
  // Nothing to resume once the window has handed over.
  void stopCountdown();
  void resumeAfterDeclinedUpdate();
  bool handedOver() const { return handedOver_; }

  // Controls the update check uses.
  QPushButton *command1() const { return command1_; }
  QProgressBar *progressBar1() const { return progressBar1_; }
  QLabel *label1() const { return label1_; }

 protected:
  bool event(QEvent *event) override;
  void closeEvent(QCloseEvent *event) override;

 private:
  void activated();
  void fadeStep();
  void runCheck();

  Services services_;
  SplashSequence sequence_;
  QString InstalledVersion;
  int soundStarts_ = 0;
  bool handedOver_ = false;
  int checksRunning_ = 0;
  bool unloadPending_ = false;
  std::function<void(FrmSplash &)> updateCheck_;

  QTimer *timer1_, *timer2_, *timer3_, *timer13_;
  QPushButton *command1_;
  QProgressBar *progressBar1_;
  QLabel *label1_, *label2_, *image1_;
  QGroupBox *frame1_;
  QSoundEffect *media_;
};

}  // namespace kirasol
