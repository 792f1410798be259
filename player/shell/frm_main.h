#pragma once
// frmMain: the skinned main window. Its load starts the audio library and the
// recording channel in a fixed order (any failure ends the program); its
// controls play, stop, set the volume and show the stream's status; its
// unload frees the library.

#include "common/dialogs.h"
#include "common/program_launcher.h"
#include "player/playback/audio_library.h"
#include "player/playback/net_radio.h"
#include "player/playback/playback_view.h"
#include "player/shell/main_window_rules.h"
#include "player/spectrum/live_spectrum.h"

#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QTimer;

namespace kirasol {

class Slider;
class X11ImagePut;
namespace spectrum {
class SpectrumSchedule;
}

class FrmMain : public QWidget, public PlaybackView {
  Q_OBJECT
 public:
  struct Services {
    AudioLibrary &audio;
    NetRadio &radio;
    Dialogs &dialogs;
    ProgramLauncher &launcher;
    std::function<void(int)> endProgram;   // ends the process at once (does not return in the player)
    std::function<bool()> debuggerAttached;
    QString stationUrl;                    // StationUrls entry 0
  };
  // Seams filled by the feature folders; each may stay empty.
  struct Hooks {
    std::function<void(FrmMain &)> registerTray;  // load, last step
    std::function<void()> removeTray;             // unload
    std::function<bool()> trayCanRestore;         // a tray icon can bring a hidden window back
    std::function<void()> showRequest;            // Request
    std::function<void()> exitPlayer;             // lblExit, after the unload
    std::function<void(const QPoint &)> contextMenu;  // right click on the body (global position)
    // The menu asked for from the keyboard (Menu key, Shift+F10); empty: contextMenu.
    std::function<void(const QPoint &)> keyboardMenu;
  };

  FrmMain(Services services, Hooks hooks, QWidget *parent = nullptr);
  ~FrmMain() override;

  // Load steps 1-13. False when a failure ended the program.
  bool load();

  // Click handlers other windows invoke (the tray menu presses the buttons).
  void playCommand();
  void stopCommand();
  // sldVol's Change: volume v of 0..100.
  void volumeChanged(int value);
  void OpenWebPage(const QString &address);

  QPushButton *button(const char *name) const;
  const ElapsedClock &clock() const { return clock_; }
  const spectrum::LiveSpectrum &spectrum() const { return *spectrum_; }

  // PlaybackView
  void setStationText(const QString &text) override;
  void setBitRateText(const QString &text) override;
  void setSongText(const QString &text) override;
  void setCpuText(const QString &text) override;
  void setNetRadioTimerEnabled(bool enabled) override;
  QWidget *boxOwner() override { return this; }

 signals:
  // The window has been unloaded (the shell drops its reference).
  void unloaded();
  // What the window shows changed, for observers outside it (media keys,
  // remembered settings): the Play or a Stop command ran, the station or song
  // text was set (not the marquee's rotation), the volume was changed.
  void playCommanded(bool playing);
  void stationTextSet(const QString &text);
  void songTextSet(const QString &text);
  void volumeSet(int value);

 protected:
  void closeEvent(QCloseEvent *event) override;
  void changeEvent(QEvent *event) override;
  void paintEvent(QPaintEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void contextMenuEvent(QContextMenuEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;

 private:
  void Error_(const QString &message);
  bool fail(int code);
  QLabel *makeLabel(const char *name, const QString &text, QRect geometry);
  QPushButton *makeButton(const char *name, const QString &text, QRect geometry);
  QPushButton *addButton(QPushButton *button, const char *name, QRect geometry);
  QTimer *makeTimer(const char *name, int interval);
  void openMenuFromKeyboard();

  Services services_;
  Hooks hooks_;
  QImage skin_;       // 1x: the picture at scale 1 and the window's shape
  QImage sharpSkin_;  // 2x, for higher scales; null without the artwork
  ElapsedClock clock_;
  std::unique_ptr<spectrum::LiveSpectrum> spectrum_;
  std::unique_ptr<X11ImagePut> spectrumPut_;  // the spectrum's frames past Qt, where X11 allows
  spectrum::SpectrumSchedule *spectrumSchedule_;  // runs tmrLiveSpec while playing and seen
  bool bDragging = false;
  bool systemMoveAsked_ = false;  // this press's drag was offered to the window system
  int lGrabX = 0, lGrabY = 0;
  bool unloaded_ = false;

  QLabel *lblName_, *lblBPS_, *lblSong_, *lblCPU_, *timerLabel_, *lblVolume_;
  Slider *sldVol_;
  QTimer *tmrNetRadio_, *tmrBass2_, *tmrLiveSpec_, *timer3_, *timer5_, *timer6_;
};

}  // namespace kirasol
