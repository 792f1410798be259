#include "player/shell/skin_controls.h"

#include "controls/slider/slider.h"
#include "player/shell/frm_main.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QPainter>

namespace kirasol {

namespace {

bool isEnter(const QKeyEvent *event) {
  return (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
         !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
}

QAccessibleInterface *skinFactory(const QString &className, QObject *object) {
  if (className == QLatin1String(SkinHotSpot::staticMetaObject.className())) {
    if (auto *spot = qobject_cast<SkinHotSpot *>(object)) return new HotSpotAccessible(spot);
  }
  // A frameless window of its own drawing is still an application window to
  // a screen reader, which announces it by its title.
  if (className == QLatin1String(FrmMain::staticMetaObject.className())) {
    if (auto *window = qobject_cast<FrmMain *>(object)) return new QAccessibleWidget(window, QAccessible::Window);
  }
  return nullptr;
}

// The accessible name is what a screen reader says; the description the
// English caption the window shows.
struct ControlText {
  const char *object;
  const char *name;         // empty: the control's own text is its name
  const char *description;
};

constexpr ControlText kControlTexts[] = {
    {"btnPresents", "เล่น", "Play!"},
    {"lblStop", "หยุด", "Stop!"},
    {"PushButton1", "หยุดเสียง", "Stop!"},
    {"Request", "ขอเพลง", "Request"},
    {"cmdUpdate", "ห้องแชท", "Chat!!"},
    {"sldVol", "ระดับเสียง", "Vol"},
    {"lblMini", "ย่อหน้าต่าง", "Minimize"},
    {"lblExit", "ออกจากโปรแกรม", "Close!"},
    {"Label1", "ปิดหน้าต่าง", ""},
    {"lblName", "", "ชื่อสถานี"},
    {"lblSong", "", "เพลงที่กำลังเล่น"},
    {"lblBPS", "", "อัตราบิต"},
    {"lblCPU", "", "CPU"},
    {"Timer", "", "เวลาที่เล่น"},
    {"lblVolume", "", "ระดับเสียง"},
};

// Tab visits the commands in reading order, then the title-bar buttons.
constexpr const char *kTabOrder[] = {"btnPresents", "lblStop", "PushButton1", "Request", "cmdUpdate",
                                     "sldVol",      "lblMini", "lblExit",     "Label1"};

}  // namespace

QColor skinAccent() { return {0x7F, 0xE6, 0xFF}; }

void paintFocusMark(QPainter &painter, const QWidget &widget) {
  if (!widget.hasFocus()) return;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  QPen pen(skinAccent());
  pen.setStyle(Qt::DotLine);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(widget.rect().adjusted(0, 0, -1, -1));
  painter.restore();
}

SkinButton::SkinButton(const QString &caption, QWidget *parent) : QPushButton(caption, parent) {
  setFocusPolicy(Qt::TabFocus);
}

void SkinButton::paintEvent(QPaintEvent *event) {
  QPushButton::paintEvent(event);
  QPainter painter(this);
  paintFocusMark(painter, *this);
}

void SkinButton::keyPressEvent(QKeyEvent *event) {
  if (isEnter(event) && !event->isAutoRepeat()) {
    animateClick();
    return;
  }
  QPushButton::keyPressEvent(event);
}

SkinHotSpot::SkinHotSpot(QWidget *parent) : QLabel(parent) {
  setFocusPolicy(Qt::TabFocus);
  static const bool installed = [] {
    QAccessible::installFactory(&skinFactory);
    return true;
  }();
  (void)installed;
}

void SkinHotSpot::paintEvent(QPaintEvent *event) {
  QLabel::paintEvent(event);
  QPainter painter(this);
  paintFocusMark(painter, *this);
}

void SkinHotSpot::keyPressEvent(QKeyEvent *event) {
  if ((isEnter(event) || event->key() == Qt::Key_Space) && !event->isAutoRepeat()) {
    press();
    return;
  }
  QLabel::keyPressEvent(event);
}

HotSpotAccessible::HotSpotAccessible(SkinHotSpot *spot) : QAccessibleWidget(spot, QAccessible::Button) {}

QStringList HotSpotAccessible::actionNames() const { return {pressAction(), setFocusAction()}; }

void HotSpotAccessible::doAction(const QString &actionName) {
  if (actionName == pressAction()) {
    static_cast<SkinHotSpot *>(widget())->press();
  } else {
    QAccessibleWidget::doAction(actionName);
  }
}

void describeMainWindow(FrmMain &window) {
  for (const ControlText &t : kControlTexts) {
    auto *w = window.findChild<QWidget *>(QString::fromLatin1(t.object));
    if (!w) continue;
    if (*t.name) w->setAccessibleName(QString::fromUtf8(t.name));
    if (*t.description) w->setAccessibleDescription(QString::fromUtf8(t.description));
  }
  QWidget *previous = nullptr;
  for (const char *name : kTabOrder) {
    QWidget *w = window.findChild<QWidget *>(QString::fromLatin1(name));
    if (!w) continue;
    if (previous) {
      QWidget::setTabOrder(previous, w);
    } else {
      w->setFocus(Qt::OtherFocusReason);  // Play has the focus when the window first becomes active
    }
    previous = w;
  }
  if (auto *slider = window.findChild<Slider *>(QStringLiteral("sldVol"))) {
    QPalette palette = slider->palette();
    palette.setColor(QPalette::Highlight, skinAccent());
    slider->setPalette(palette);
  }
  // The marquees rotate the labels' text several times a second; a screen
  // reader reads the text as it was set, and is not told of every rotation.
  const auto follow = [&window](const char *name, void (FrmMain::*textSet)(const QString &)) {
    auto *label = window.findChild<QLabel *>(QString::fromLatin1(name));
    if (!label) return;
    label->setAccessibleName(label->text());
    QObject::connect(&window, textSet, label, [label](const QString &text) { label->setAccessibleName(text); });
  };
  follow("lblName", &FrmMain::stationTextSet);
  follow("lblSong", &FrmMain::songTextSet);
}

}  // namespace kirasol
