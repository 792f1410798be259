#include "player/side_windows/credits_window.h"

#include "common/dialogs.h"

#include <QEvent>
#include <QFile>
#include <QFontMetricsF>
#include <QFrame>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace kirasol::side {

namespace {
constexpr QSize kWindowSize{300, 260};
constexpr QRect kPictureRect{20, 80, 260, 150};
}  // namespace

CreditsPicture::CreditsPicture(QWidget *parent) : QWidget(parent) {
  setObjectName(QStringLiteral("picCredits"));
  // Design-time look of the box: dark background, warm text, a plain font
  // without smoothing so every glyph pixel carries exactly its line's colour.
  textColor_ = QColor(255, 214, 120);
  backColor_ = QColor(16, 24, 48);
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPixelSize(13);
  f.setStyleStrategy(QFont::NoAntialias);
  setFont(f);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CreditsPicture::setFrame(std::vector<DrawnLine> frame) {
  frame_ = std::move(frame);
  update();
}

void CreditsPicture::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.fillRect(rect(), backColor_);
  p.setFont(font());
  const QFontMetricsF fm(font());
  for (const DrawnLine &line : frame_) {
    if (line.text.isEmpty()) continue;
    p.setPen(QColor::fromRgb(line.color));
    p.drawText(QPointF(double(line.x) / kTwipsPerPixel, double(line.y) / kTwipsPerPixel + fm.ascent()), line.text);
  }
}

CreditsWindow::CreditsWindow(Dialogs &dialogs, const QString &programDir, QWidget *parent)
    : QWidget(parent, Qt::Window), dialogs_(dialogs) {
  setObjectName(QStringLiteral("frmAbout"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("เกี่ยวกับ Kirasol Radio"));
  setFixedSize(kWindowSize);

  const QString captions[5] = {QStringLiteral("Kirasol Radio Player"), QStringLiteral("Version 1.1"),
                               QStringLiteral("Kirasol Studio"), QStringLiteral("Exit"),
                               QStringLiteral("ผู้จัดทำโปรแกรม")};
  const QRect places[5] = {{20, 8, 260, 22}, {20, 30, 260, 18}, {20, 236, 200, 18}, {230, 236, 50, 18},
                           {20, 52, 120, 20}};
  for (int i = 0; i < 5; ++i) {
    auto *label = new QLabel(captions[i], this);
    label->setObjectName(QStringLiteral("Label1_%1").arg(i));
    label->setProperty("index", i);
    label->setGeometry(places[i]);
    label->installEventFilter(this);
  }
  findChild<QLabel *>(QStringLiteral("Label1_0"))->setStyleSheet(QStringLiteral("font-weight: bold"));
  findChild<QLabel *>(QStringLiteral("Label1_3"))->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto *author = new QLabel(QStringLiteral("ทีมงาน Kirasol Radio"), this);
  author->setObjectName(QStringLiteral("Label2"));
  author->setGeometry(140, 52, 140, 20);
  author->installEventFilter(this);
  auto *line = new QFrame(this);
  line->setObjectName(QStringLiteral("Line1"));
  line->setFrameShape(QFrame::HLine);
  line->setGeometry(20, 74, 260, 2);

  picCredits_ = new CreditsPicture(this);
  picCredits_->setAccessibleName(QStringLiteral("รายชื่อผู้จัดทำ"));
  picCredits_->setGeometry(kPictureRect);
  picCredits_->installEventFilter(this);

  Timer1_ = new QTimer(this);
  Timer1_->setObjectName(QStringLiteral("Timer1"));
  connect(Timer1_, &QTimer::timeout, this, &CreditsWindow::Timer1_Timer);

  Form_Load(programDir);
}

void CreditsWindow::Form_Load(const QString &programDir) {
  const QString path = programDir + QStringLiteral("/Credits.txt");
  QFile file(path);
  std::optional<QStringList> lines;
  if (file.exists() && file.open(QIODevice::ReadOnly)) {
    const QByteArray bytes = file.readAll();
    if (file.error() == QFileDevice::NoError) lines = splitCreditLines(bytes);
    file.close();
  }
  if (lines) {
    // What scrolls past is read whole by a screen reader.
    picCredits_->setAccessibleDescription(lines->join(u'\n').trimmed());
    const QFontMetricsF fm(picCredits_->font());
    CreditsMetrics metrics;
    metrics.boxWidth = picCredits_->width() * double(kTwipsPerPixel);
    metrics.boxHeight = picCredits_->height() * double(kTwipsPerPixel);
    metrics.letterHeight = fm.height() * kTwipsPerPixel;  // the text height of "A": one line
    metrics.textWidth = [fm](const QString &text) { return fm.horizontalAdvance(text) * kTwipsPerPixel; };
    scroll_ = CreditsScroll::build(*lines,
                                   metrics, {picCredits_->textColor().rgb(), picCredits_->backColor().rgb()});
  }
  if (!scroll_) {
    dialogs_.message(this, {QStringLiteral("Could not load Credits"), QStringLiteral(" Credits Demo"),
                            MessageIcon::Critical, MessageButtons::Ok});
    return;
  }
  Timer1_->setInterval(10);
  Timer1_->start();
}

void CreditsWindow::Timer1_Timer() {
  if (!scroll_) return;
  scroll_->advance();
  picCredits_->setFrame(scroll_->frame());
}

void CreditsWindow::keyPressEvent(QKeyEvent *event) {
  // Without a mouse: Escape, Enter or Space closes it, as any click does.
  switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space: close(); return;
    default: QWidget::keyPressEvent(event);
  }
}

void CreditsWindow::mousePressEvent(QMouseEvent *event) {
  event->accept();
  close();
}

bool CreditsWindow::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::MouseButtonPress) {
    close();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace kirasol::side
