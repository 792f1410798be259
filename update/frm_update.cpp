#include "update/frm_update.h"

#include "common/program_names.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QListWidget>
#include <QMouseEvent>
#include <QStyle>

namespace kirasol::update {

namespace {

const QColor kButtonGrey(128, 128, 128);
const QColor kButtonPressed(192, 192, 192);

void setBackground(QWidget *widget, const QColor &colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, colour);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

QLabel *versionLabel(QWidget *parent, const char *name) {
  auto *label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, QColor(0, 255, 0));
  label->setPalette(palette);
  setBackground(label, QColor(64, 64, 64));
  label->setIndent(6);
  return label;
}

ButtonLabel *buttonLabel(QWidget *parent, const char *name, const QString &caption) {
  auto *label = new ButtonLabel(caption, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setAlignment(Qt::AlignCenter);
  label->setCursor(Qt::PointingHandCursor);
  setBackground(label, kButtonGrey);
  return label;
}

}  // namespace

void ButtonLabel::mousePressEvent(QMouseEvent *event) {
  if (event->button() != Qt::LeftButton) return QLabel::mousePressEvent(event);
  down_ = true;
  emit pressed();
}

void ButtonLabel::mouseReleaseEvent(QMouseEvent *event) {
  if (event->button() != Qt::LeftButton || !down_) return QLabel::mouseReleaseEvent(event);
  down_ = false;
  emit released();
}

FrmUpdate::FrmUpdate(UrlFetcher &fetcher, ProgramLauncher &launcher, const QString &updateBaseUrl,
                     const QString &workDir, UpdateOptions options, QWidget *parent)
    : QWidget(parent), launcher_(launcher) {
  setObjectName(QStringLiteral("frmUpdate"));
  setWindowTitle(QStringLiteral("อัพเดทโปรแกรมรุ่นล่าสุด"));
  setFixedSize(380, 270);

  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("list"));
  list_->setFont(QFont(QStringLiteral("Tahoma"), 9));
  list_->setGeometry(10, 10, 360, 170);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  curver_ = versionLabel(this, "curver");
  curver_->setGeometry(10, 190, 170, 24);
  auto *label2 = new QLabel(QStringLiteral("ล่าสุด"), this);
  label2->setObjectName(QStringLiteral("Label2"));
  label2->setGeometry(190, 190, 50, 24);
  latver_ = versionLabel(this, "latver");
  latver_->setGeometry(240, 190, 130, 24);

  lblConnect_ = buttonLabel(this, "lblConnect", QStringLiteral("อัพเดท"));
  lblConnect_->setGeometry(10, 228, 175, 30);
  label1_ = buttonLabel(this, "Label1", QStringLiteral("ออก"));
  label1_->setGeometry(195, 228, 175, 30);

  module_ = std::make_unique<ModUpdate>(fetcher, updateBaseUrl, workDir, *this, std::move(options));

  connect(lblConnect_, &ButtonLabel::pressed, this, [this] { setBackground(lblConnect_, kButtonPressed); });
  connect(lblConnect_, &ButtonLabel::released, this, [this] {
    setBackground(lblConnect_, kButtonGrey);
    module_->Run();
    if (exitAfterRun_) {
      exitAfterRun_ = false;
      exitAndStartPlayer();
    }
  });
  connect(label1_, &ButtonLabel::released, this, [this] { exitAndStartPlayer(); });
}

FrmUpdate::~FrmUpdate() = default;

void FrmUpdate::exitAndStartPlayer() {
  // Starting the player while files are being replaced would run a
  // half-updated program: the run is canceled first (downloads end at once
  // and change nothing; an install already begun takes a moment to finish),
  // and the exit follows when it has returned.
  if (module_->running()) {
    exitAfterRun_ = true;
    module_->Cancel();
    return;
  }
  close();
  launcher_.startProgram(QString::fromLatin1(programs::kPlayer));
}

void FrmUpdate::closeEvent(QCloseEvent *event) {
  // Closing the window ends the program without starting the player; a run
  // in progress is canceled so that it does not go on unseen.
  module_->Cancel();
  QWidget::closeEvent(event);
}

void FrmUpdate::appendMessage(const QString &text) {
  if (echo_) echo_(text);
  // Failure messages carry a reason and a path: they are broken at blanks
  // into items that fit, rather than run off the right edge.
  const QFontMetrics metrics(list_->font());
  // The width once the vertical scroll bar shows, known before the window does.
  const int width = list_->width() - 2 * list_->frameWidth() -
                    list_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list_) - 24;
  QString line;
  for (const QString &word : text.split(u' ')) {
    const QString longer = line.isEmpty() ? word : line + u' ' + word;
    if (!line.isEmpty() && metrics.horizontalAdvance(longer) > width) {
      list_->addItem(line);
      line = word;
    } else {
      line = longer;
    }
  }
  list_->addItem(line);
  list_->scrollToBottom();
}

void FrmUpdate::setCurrentVersionCaption(const QString &text) { curver_->setText(text); }
void FrmUpdate::setLatestVersionCaption(const QString &text) { latver_->setText(text); }
void FrmUpdate::processPendingEvents() { QCoreApplication::processEvents(); }

}  // namespace kirasol::update
