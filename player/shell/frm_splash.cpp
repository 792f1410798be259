#include "player/shell/frm_splash.h"

#include "common/text_codec.h"
#include "common/text_rules.h"
#include "player/shell/instance_guard.h"
#include "player/shell/layering.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace kirasol {

namespace {

QTimer *makeTimer(QObject *parent, const char *name, int interval) {
  auto *timer = new QTimer(parent);
  timer->setObjectName(QString::fromLatin1(name));
  timer->setInterval(interval);
  return timer;
}

// The splash picture; a plain face when the artwork is missing.
QPixmap splashPicture() {
  const QDir folder(QCoreApplication::applicationDirPath());
  // On screens of more pixels per point, the picture drawn at twice the size.
  if (qApp->devicePixelRatio() > 1.0) {
    QPixmap sharp(folder.filePath(QStringLiteral("splash@2x.png")));
    if (!sharp.isNull()) {
      sharp.setDevicePixelRatio(2.0);
      return sharp;
    }
  }
  QPixmap art(folder.filePath(QStringLiteral("splash.png")));
  if (!art.isNull()) return art;
  QPixmap picture(360, 220);
  picture.fill(QColor(24, 28, 40));
  QPainter painter(&picture);
  painter.setPen(Qt::white);
  QFont font = painter.font();
  font.setPointSize(16);
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(picture.rect(), Qt::AlignCenter, QStringLiteral("Kirasol Radio"));
  return picture;
}

}  // namespace

FrmSplash::FrmSplash(Services services, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), services_(std::move(services)) {
  setObjectName(QStringLiteral("frmSplash"));
  setWindowTitle(QStringLiteral("Form3"));

  timer1_ = makeTimer(this, "Timer1", 1000);
  timer2_ = makeTimer(this, "Timer2", 90);
  timer3_ = makeTimer(this, "Timer3", 1);
  timer13_ = makeTimer(this, "Timer13", 1000);

  image1_ = new QLabel(this);
  image1_->setObjectName(QStringLiteral("Image1"));
  image1_->setPixmap(splashPicture());

  label2_ = new QLabel(QStringLiteral("V 1.1"), this);
  label2_->setObjectName(QStringLiteral("Label2"));

  frame1_ = new QGroupBox(QStringLiteral("อัพเดทโปรแกรมล่าสุด"), this);
  frame1_->setObjectName(QStringLiteral("Frame1"));
  label1_ = new QLabel(QStringLiteral("อัพเดทเวอร์ชั่นล่าสุด"), frame1_);
  label1_->setObjectName(QStringLiteral("Label1"));
  label1_->setWordWrap(true);  // the check's longer status texts stay readable
  progressBar1_ = new QProgressBar(frame1_);
  progressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
  progressBar1_->setRange(0, 3);
  progressBar1_->setValue(0);
  command1_ = new QPushButton(QStringLiteral("ตรวจสอบ"), frame1_);
  command1_->setObjectName(QStringLiteral("Command1"));
  auto *frameLayout = new QVBoxLayout(frame1_);
  frameLayout->addWidget(label1_);
  frameLayout->addWidget(progressBar1_);
  frameLayout->addWidget(command1_);

  auto *layout = new QVBoxLayout(this);
  layout->addWidget(image1_);
  layout->addWidget(label2_, 0, Qt::AlignRight);
  layout->addWidget(frame1_);

  media_ = new QSoundEffect(this);
  media_->setObjectName(QStringLiteral("Media"));
  media_->setVolume(0.5f);

  connect(command1_, &QPushButton::clicked, this, &FrmSplash::runCheck);
  connect(timer13_, &QTimer::timeout, this, [this] {
    command1_->click();
    timer13_->stop();
  });
  connect(timer1_, &QTimer::timeout, this, [this] {
    if (sequence_.countdownTick()) timer2_->start();
  });
  connect(timer3_, &QTimer::timeout, this, [this] {
    if (sequence_.resumeTick()) timer2_->start();
  });
  connect(timer2_, &QTimer::timeout, this, &FrmSplash::fadeStep);
}

bool FrmSplash::load() {
  // Looked up in the current folder: the main window moves there later.
  QFile version(QDir::current().filePath(QStringLiteral("version.dat")));
  if (version.open(QIODevice::ReadOnly))
    InstalledVersion = firstField(decodeText(version.readAll())).value_or(QString());

  if (!services_.guard.acquire()) {
    services_.dialogs.message(nullptr, MessageRequest{QStringLiteral("โปรแกรมกำลังทำงานอยู่ ไม่สามารถเปิดพร้อมกันได้"),
                                                      QStringLiteral("Warning"), MessageIcon::Warning,
                                                      MessageButtons::Ok});
    services_.endProgram(0);
    return false;
  }
  timer1_->start();
  timer13_->start();
  return true;
}

bool FrmSplash::event(QEvent *event) {
  if (event->type() == QEvent::WindowActivate) activated();
  return QWidget::event(event);
}

void FrmSplash::activated() {
  ++soundStarts_;
  media_->setSource(QUrl::fromLocalFile(QDir::current().absoluteFilePath(QStringLiteral("intro.wav"))));
  media_->play();
  sequence_.activate();
}

void FrmSplash::runCheck() {
  if (!updateCheck_) return;
  // The check waits for the server and for the listener's answers with
  // window events flowing, so the countdown goes on and may hand over to
  // the main window meanwhile. This window is then only hidden, and
  // unloaded once the check has returned: the check never outlives the
  // controls it works on.
  ++checksRunning_;
  updateCheck_(*this);
  --checksRunning_;
  if (checksRunning_ == 0 && unloadPending_) {
    unloadPending_ = false;
    close();
  }
}

void FrmSplash::closeEvent(QCloseEvent *event) {
  if (checksRunning_ > 0) {
    event->ignore();
    hide();
    unloadPending_ = true;
    return;
  }
  QWidget::closeEvent(event);
}

void FrmSplash::stopCountdown() { timer1_->stop(); }

void FrmSplash::resumeAfterDeclinedUpdate() {
  if (handedOver_) return;
  timer3_->start();
  fadeStep();
}

void FrmSplash::fadeStep() {
  if (handedOver_) return;
  const auto step = sequence_.fadeStep();
  SetWindowAlpha(this, step.level);
  if (!step.finished) return;
  handedOver_ = true;
  timer1_->stop();
  timer2_->stop();
  timer3_->stop();
  timer13_->stop();
  services_.showMainWindow();
  // A box of a check still running belongs in front of the window that
  // takes over, not behind it where the listener cannot find it.
  if (QWidget *box = QApplication::activeModalWidget()) {
    box->raise();
    box->activateWindow();
  }
  close();
}

}  // namespace kirasol
