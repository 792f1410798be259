#include "player/shell/frm_main.h"

#include "common/text_rules.h"
#include "controls/slider/slider.h"
#include "player/playback/net_radio_rules.h"
#include "player/shell/layering.h"
#include "player/shell/skin_controls.h"
#include "player/shell/x11_image_put.h"
#include "player/spectrum/spectrum_schedule.h"

#include <kirasol/build_settings.h>

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

namespace kirasol {

namespace {

constexpr int kSkinWidth = 281;
constexpr int kSkinHeight = 172;
constexpr DWORD kLibraryVersion = 0x0204;
constexpr DWORD kStallTimeoutMs = 10000;

// A label without a caption that acts as a small hot spot.
class HotSpot final : public SkinHotSpot {
 public:
  using SkinHotSpot::SkinHotSpot;

 protected:
  void mousePressEvent(QMouseEvent *event) override { event->accept(); }
  void mouseReleaseEvent(QMouseEvent *event) override {
    if (rect().contains(event->position().toPoint()) && clicked) clicked();
  }
};

// The title-bar bays are too small for their captions: the button keeps its
// caption (the tray menu and tests read it) and paints a glyph.
class GlyphButton final : public SkinButton {
 public:
  GlyphButton(const QString &caption, QString glyph, QWidget *parent)
      : SkinButton(caption, parent), glyph_(std::move(glyph)) {
    setToolTip(caption);
  }

 protected:
  void paintEvent(QPaintEvent *) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown()) painter.fillRect(rect(), QColor(127, 230, 255, 40));
    painter.setPen(underMouse() ? QColor(0x7F, 0xE6, 0xFF) : QColor(0xE8, 0xEC, 0xF6));
    QFont f = font();
    f.setPixelSize(11);
    f.setBold(true);
    painter.setFont(f);
    painter.drawText(rect(), Qt::AlignCenter, glyph_);
    paintFocusMark(painter, *this);
  }

 private:
  QString glyph_;
};

QString programFile(const QString &name) {
  // Part of the window's own design, so found next to the program whatever
  // the current folder is.
  return QDir(QCoreApplication::applicationDirPath()).filePath(name);
}

QImage loadSkin() {
  QImage skin(programFile(QStringLiteral("skin.png")));
  if (!skin.isNull()) return skin.convertToFormat(QImage::Format_RGB32);
  // Without the artwork the window stays usable: a plain face, no holes.
  QImage plain(kSkinWidth, kSkinHeight, QImage::Format_RGB32);
  plain.fill(QColor(24, 28, 40));
  return plain;
}

// The same skin drawn at twice the size, for screens of more pixels per
// point; null when it is missing or does not match the 1x skin (the shape
// always comes from the 1x one).
QImage loadSharpSkin(const QImage &skin) {
  QImage sharp(programFile(QStringLiteral("skin@2x.png")));
  if (sharp.isNull() || sharp.size() != skin.size() * 2) return {};
  sharp = sharp.convertToFormat(QImage::Format_RGB32);
  sharp.setDevicePixelRatio(2.0);
  return sharp;
}

}  // namespace

FrmMain::FrmMain(Services services, Hooks hooks, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      services_(std::move(services)),
      hooks_(std::move(hooks)) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QStringLiteral("Kirasol Radio"));
  setFixedSize(kSkinWidth, kSkinHeight);
  setAttribute(Qt::WA_DeleteOnClose);
  // The skin covers the whole client area: no background fill before painting.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setStyleSheet(QStringLiteral(
      "QLabel { color: #A9B0C4; font-size: 10px; background: transparent; }"
      "QLabel#lblName, QLabel#lblSong, QLabel#Timer, QLabel#lblModem, QLabel#lblCPU, QLabel#lblBPS"
      "  { color: #7FE6FF; }"
      "QPushButton { color: #E8ECF6; font-size: 10px; background: transparent; border: none; padding: 0px; }"
      "QPushButton:hover { color: #7FE6FF; }"
      "QPushButton:pressed { color: #FFFFFF; background: rgba(127,230,255,40); }"));

  lblName_ = makeLabel("lblName", QStringLiteral("Kirasol Radio"), {14, 35, 254, 11});
  lblBPS_ = makeLabel("lblBPS", QStringLiteral("Kirasol Radio 1.1"), {197, 62, 72, 13});
  makeLabel("lblModem", QStringLiteral("CPU"), {12, 77, 22, 11});
  lblCPU_ = makeLabel("lblCPU", QStringLiteral("0.0"), {34, 77, 38, 11});
  timerLabel_ = makeLabel("Timer", QStringLiteral("00:00:00"), {12, 62, 60, 13});
  lblSong_ = makeLabel("lblSong", QStringLiteral("Current Song "), {14, 47, 254, 11});
  makeLabel("lblBroadband", QStringLiteral("Vol :"), {12, 145, 34, 12});
  lblVolume_ = makeLabel("lblVolume", QStringLiteral("(50%)"), {200, 145, 42, 12});
  for (QLabel *marquee : {lblName_, lblSong_}) marquee->setWordWrap(false);

  auto *label1 = new HotSpot(this);
  label1->setObjectName(QStringLiteral("Label1"));
  label1->setGeometry(12, 159, 9, 9);
  label1->clicked = [this] { close(); };

  connect(makeButton("btnPresents", QStringLiteral("Play!"), {12, 112, 48, 20}), &QPushButton::clicked, this,
          &FrmMain::playCommand);
  connect(makeButton("lblStop", QStringLiteral("Stop!"), {64, 112, 48, 20}), &QPushButton::clicked, this,
          &FrmMain::stopCommand);
  connect(makeButton("PushButton1", QStringLiteral("Stop!"), {116, 112, 48, 20}), &QPushButton::clicked, this,
          [this] {
            services_.audio.Stop();
            // A stop all the same: the station is not reopened behind the
            // listener's back.
            services_.radio.stopStation();
            emit playCommanded(false);
          });
  connect(makeButton("Request", QStringLiteral("Request"), {168, 112, 50, 20}), &QPushButton::clicked, this, [this] {
    if (hooks_.showRequest) hooks_.showRequest();
  });
  connect(makeButton("cmdUpdate", QStringLiteral("Chat!!"), {222, 112, 48, 20}), &QPushButton::clicked, this,
          [this] { OpenWebPage(QString::fromUtf8(settings::kChatUrl)); });
  auto *lblMini = addButton(new GlyphButton(QStringLiteral("Minimize"), QStringLiteral("_"), this), "lblMini",
                            {222, 14, 22, 13});
  connect(lblMini, &QPushButton::clicked, this, [this] { setWindowState(windowState() | Qt::WindowMinimized); });
  auto *lblExit = addButton(new GlyphButton(QStringLiteral("Close!"), QStringLiteral("x"), this), "lblExit",
                            {249, 14, 22, 13});
  connect(lblExit, &QPushButton::clicked, this, [this] {
    close();
    // Ends this process only; another copy or program is never touched.
    if (unloaded_ && hooks_.exitPlayer) hooks_.exitPlayer();
  });

  tmrNetRadio_ = makeTimer("tmrNetRadio", 50);
  tmrBass2_ = makeTimer("tmrBass2", 250);
  tmrLiveSpec_ = makeTimer("tmrLiveSpec", 25);
  timer3_ = makeTimer("Timer3", 400);
  timer5_ = makeTimer("Timer5", 1000);
  timer6_ = makeTimer("Timer6", 1000);
  connect(tmrNetRadio_, &QTimer::timeout, this, [this] { services_.radio.netRadioTick(); });
  connect(tmrBass2_, &QTimer::timeout, this, [this] {
    services_.radio.bass2Tick();
    services_.radio.watchPlayback();
  });
  spectrumSchedule_ = new spectrum::SpectrumSchedule(*this, *tmrLiveSpec_);
  spectrumPut_ = std::make_unique<X11ImagePut>(*this);
  connect(tmrLiveSpec_, &QTimer::timeout, this, [this] {
    if (!spectrum_->tick()) return;
    const QRect area = spectrum::LiveSpectrum::paintRect();
    if (!spectrumPut_->put(spectrum_->shownImage(), area.topLeft())) update(area);
  });
  connect(timer3_, &QTimer::timeout, this, [this] { lblSong_->setText(rotateLeft(lblSong_->text())); });
  connect(timer6_, &QTimer::timeout, this, [this] { lblName_->setText(rotateLeft(lblName_->text())); });
  connect(timer5_, &QTimer::timeout, this, [this] {
    clock_.tick();
    timerLabel_->setText(clock_.text());
  });

  spectrum_ = std::make_unique<spectrum::LiveSpectrum>([this](std::span<float, spectrum::kFftBins> bins) {
    services_.audio.ChannelGetData(services_.radio.CurrentChannel, bins.data(), BASS_DATA_FFT2048);
  });

  // The volume slider with its saved set; placed after restoring, because
  // restoring Position exchanges the control's width and height.
  auto *sldVol = sldVol_ = new Slider(this);
  sldVol->setObjectName(QStringLiteral("sldVol"));
  sldVol->ReadProperties(MemoryPropertyStore{{QStringLiteral("BackColor"), 0},
                                             {QStringLiteral("Value"), 50},
                                             {QStringLiteral("Position"), 1}});
  sldVol->setGeometry(50, 145, 146, 12);
  connect(sldVol, &Slider::Change, this, &FrmMain::volumeChanged);

  describeMainWindow(*this);
}

FrmMain::~FrmMain() { services_.radio.setView(nullptr); }

QLabel *FrmMain::makeLabel(const char *name, const QString &text, QRect geometry) {
  auto *label = new QLabel(text, this);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(geometry);
  return label;
}

QPushButton *FrmMain::makeButton(const char *name, const QString &text, QRect geometry) {
  return addButton(new SkinButton(text, this), name, geometry);
}

QPushButton *FrmMain::addButton(QPushButton *button, const char *name, QRect geometry) {
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(geometry);
  button->setCursor(Qt::PointingHandCursor);
  return button;
}

QTimer *FrmMain::makeTimer(const char *name, int interval) {
  auto *timer = new QTimer(this);
  timer->setObjectName(QString::fromLatin1(name));
  timer->setInterval(interval);
  return timer;
}

QPushButton *FrmMain::button(const char *name) const {
  return findChild<QPushButton *>(QString::fromLatin1(name));
}

void FrmMain::Error_(const QString &message) {
  const QString text =
      message + QStringLiteral("\r\n\r\nerror code: ") + QString::number(services_.audio.ErrorGetCode());
  services_.dialogs.message(this, MessageRequest{text, QStringLiteral("Error"), MessageIcon::Warning,
                                                 MessageButtons::Ok});
}

bool FrmMain::fail(int code) {
  services_.endProgram(code);
  return false;
}

bool FrmMain::load() {
  AudioLibrary &audio = services_.audio;
  NetRadio &radio = services_.radio;

  timer5_->stop();
  skin_ = loadSkin();
  sharpSkin_ = loadSharpSkin(skin_);
  applyColourKey(this, skin_);
  if (testAttribute(Qt::WA_TranslucentBackground)) {
    skin_ = keyedOut(skin_);
    if (!sharpSkin_.isNull()) sharpSkin_ = keyedOut(sharpSkin_);
  } else if (!sharpSkin_.isNull()) {
    // Only the mask cuts the shape here; scaled to 1.5 the sharp skin's
    // edge pixels would otherwise take in the cyan around them.
    sharpSkin_ = edgesSpread(sharpSkin_);
  }
  QDir::setCurrent(QCoreApplication::applicationDirPath());

  if (HiWord(audio.GetVersion()) != kLibraryVersion) {
    services_.dialogs.message(this, MessageRequest{QStringLiteral("เวอร์ชั่นของ BASS.DLL ไม่ถูกต้อง"),
                                                   QStringLiteral("Kirasol Radio"), MessageIcon::Critical,
                                                   MessageButtons::Ok});
    return fail(1);
  }
  if (!audio.Init(-1, 44100, 0, reinterpret_cast<void *>(winId()), nullptr)) {
    Error_(QStringLiteral("Can't initialize device"));
    return fail(1);
  }
  // The output starts at the volume the slider and its label show, not at
  // the library's full scale until the slider is first touched.
  volumeChanged(sldVol_->value());
  audio.SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
  audio.SetConfig(BASS_CONFIG_NET_PREBUF, 0);
  audio.SetConfigPtr(BASS_CONFIG_NET_PROXY, nullptr);
  // A connection that stays open but brings nothing ends the download after
  // this long, so the stream ends and is reconnected instead of showing the
  // station over silence.
  audio.SetConfig(BASS_CONFIG_NET_READTIMEOUT, kStallTimeoutMs);

  radio.StationUrls = {services_.stationUrl};
  radio.hOpenThread = 0;
  radio.setView(this);

  if (!audio.RecordInit(-1)) {
    Error_(QStringLiteral("Can't initialize device"));
    return fail(1);
  }
  radio.CurrentChannel = audio.RecordStart(44100, 1, 0, &NetRadio::RecordingProc, nullptr);
  if (radio.CurrentChannel == 0) {
    Error_(QStringLiteral("Can't start recording"));
    return fail(1);
  }
  spectrum_->InitSpectrum();
  spectrumSchedule_->setWanted(false);

  // Timers enabled in the window's design start with it.
  tmrNetRadio_->start();
  tmrBass2_->start();
  timer3_->start();
  timer6_->start();

  show();
  repaint();
  if (hooks_.registerTray) hooks_.registerTray(*this);
  return true;
}

void FrmMain::closeEvent(QCloseEvent *event) {
  if (services_.debuggerAttached && services_.debuggerAttached() && services_.radio.hOpenThread != 0) {
    // Under a debugger the worker is left to finish: the window stays.
    event->ignore();
  } else {
    event->accept();
    services_.audio.Free();
  }
  spectrumSchedule_->setWanted(false);
  services_.audio.RecordFree();
  if (event->isAccepted()) {
    unloaded_ = true;
    // No reconnection after the library is gone.
    services_.radio.stopStation();
    services_.radio.setView(nullptr);
    emit unloaded();
  }
  if (hooks_.removeTray) hooks_.removeTray();
}

void FrmMain::changeEvent(QEvent *event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !isMinimized()) return;
  // Hidden, the window has no taskbar entry: hide only when the tray icon can
  // bring it back, else it would be lost.
  if (hooks_.trayCanRestore && hooks_.trayCanRestore()) QTimer::singleShot(0, this, &QWidget::hide);
}

void FrmMain::paintEvent(QPaintEvent *event) {
  QPainter painter(this);
  // Most repaints are the spectrum's 40 a second: copy only the skin that
  // was exposed.
  const QRect exposed = event->rect();
  const qreal ratio = painter.device()->devicePixelRatioF();
  if (ratio > 1.0 && !sharpSkin_.isNull()) {
    // The whole picture into the whole window, clipped to what was exposed:
    // at fractional scales a partial copy would be sampled differently at
    // its edges. At 2x this is a plain copy; only other scales smooth it.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, ratio != sharpSkin_.devicePixelRatio());
    painter.drawImage(QRectF(rect()), sharpSkin_);
    // The spectrum's pixels are bars: widened, never blurred.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  } else {
    painter.drawImage(exposed.topLeft(), skin_, exposed);
  }
  if (exposed.intersects(spectrum::LiveSpectrum::paintRect())) spectrum_->paint(painter);
}

void FrmMain::mousePressEvent(QMouseEvent *event) {
  bDragging = true;
  systemMoveAsked_ = false;
  lGrabX = static_cast<int>(roundHalfEven(event->position().x()));
  lGrabY = static_cast<int>(roundHalfEven(event->position().y()));
}

void FrmMain::mouseMoveEvent(QMouseEvent *event) {
  if (!bDragging) return;
  // Where the window system moves windows itself (a Wayland compositor
  // always, an X11 window manager that offers it) the drag is handed over
  // on the first move: a window cannot place itself on Wayland. A click
  // without moving stays a click (its release switches the spectrum).
  if (!systemMoveAsked_ && event->buttons().testFlag(Qt::LeftButton)) {
    systemMoveAsked_ = true;
    if (windowHandle() != nullptr && windowHandle()->startSystemMove()) {
      bDragging = false;
      return;
    }
  }
  const int dx = static_cast<int>(roundHalfEven(lGrabX - event->position().x()));
  const int dy = static_cast<int>(roundHalfEven(lGrabY - event->position().y()));
  move(x() - dx, y() - dy);
}

void FrmMain::mouseReleaseEvent(QMouseEvent *) {
  spectrum_->mouseReleased();
  bDragging = false;
}

void FrmMain::contextMenuEvent(QContextMenuEvent *event) {
  if (event->reason() == QContextMenuEvent::Keyboard) {
    openMenuFromKeyboard();
    return;
  }
  if (hooks_.contextMenu) hooks_.contextMenu(event->globalPos());
}

void FrmMain::keyPressEvent(QKeyEvent *event) {
  // The Menu key usually arrives as a keyboard context-menu event; Shift+F10
  // is the other key for the same menu, and the Menu key may come plain.
  const bool shiftF10 = event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier;
  if (shiftF10 || event->key() == Qt::Key_Menu) {
    openMenuFromKeyboard();
    return;
  }
  QWidget::keyPressEvent(event);
}

void FrmMain::openMenuFromKeyboard() {
  // Next to the control that has the focus, not at the pointer, which may be
  // anywhere on the screen.
  const QWidget *anchor = focusWidget() && isAncestorOf(focusWidget()) ? focusWidget() : this;
  const QPoint at = anchor->mapToGlobal(anchor == this ? rect().center() : anchor->rect().bottomLeft());
  if (hooks_.keyboardMenu) {
    hooks_.keyboardMenu(at);
  } else if (hooks_.contextMenu) {
    hooks_.contextMenu(at);
  }
}

void FrmMain::playCommand() {
  timer5_->start();
  spectrumSchedule_->setWanted(true);
  services_.audio.Start();
  if (!services_.radio.startOpenStation(0)) QApplication::beep();
  emit playCommanded(true);
}

void FrmMain::stopCommand() {
  services_.audio.Stop();
  services_.radio.stopStation();
  spectrumSchedule_->setWanted(false);
  timer5_->stop();
  emit playCommanded(false);
}

void FrmMain::volumeChanged(int value) {
  services_.audio.SetVolume(static_cast<float>(value / 100.0));
  lblVolume_->setText(volumeText(value));
  emit volumeSet(value);
}

void FrmMain::OpenWebPage(const QString &address) { services_.launcher.openUrl(address); }

void FrmMain::setStationText(const QString &text) {
  lblName_->setText(text);
  emit stationTextSet(text);
}
void FrmMain::setBitRateText(const QString &text) { lblBPS_->setText(text); }
void FrmMain::setSongText(const QString &text) {
  lblSong_->setText(text);
  emit songTextSet(text);
}
void FrmMain::setCpuText(const QString &text) { lblCPU_->setText(text); }
void FrmMain::setNetRadioTimerEnabled(bool enabled) {
  if (enabled)
    tmrNetRadio_->start();
  else
    tmrNetRadio_->stop();
}

}  // namespace kirasol
