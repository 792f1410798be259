#include "common/dialogs.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

namespace kirasol {
namespace {

// The real boxes over a skinned window: whatever that window's style, the
// box is drawn in the desktop's colours, and it survives the window going
// away under it (the splash unloaded while its box waits).
TEST(QtDialogsMessage, BoxKeepsDesktopColoursAndOutlivesItsOwner) {
  struct Case {
    MessageButtons buttons;
    MessageAnswer answer;
  };
  for (const Case &c : {Case{MessageButtons::Ok, MessageAnswer::Ok}, Case{MessageButtons::YesNo, MessageAnswer::No}}) {
    auto *owner = new QWidget;
    owner->setStyleSheet(QStringLiteral("QLabel { color: #A9B0C4; background: transparent; }"
                                        "QPushButton { color: #E8ECF6; background: transparent; border: none; }"));
    owner->show();
    QPointer<QWidget> ownerGuard(owner);
    QColor textColour, buttonColour, desktopText, desktopButtonText;
    bool boxOutlivedOwner = false;
    QObject scope;  // ends the timers below with this round
    const auto inspectAndClose = [&] {
      QWidget *box = QApplication::activeModalWidget();
      if (box == nullptr) return;
      boxOutlivedOwner = ownerGuard.isNull() && box->isVisible();
      for (QLabel *label : box->findChildren<QLabel *>())
        if (!label->text().isEmpty()) {
          textColour = label->palette().color(QPalette::WindowText);
          desktopText = QApplication::palette(label).color(QPalette::WindowText);
        }
      if (QPushButton *button = box->findChild<QPushButton *>()) {
        buttonColour = button->palette().color(QPalette::ButtonText);
        desktopButtonText = QApplication::palette(button).color(QPalette::ButtonText);
      }
      box->close();
    };
    QTimer::singleShot(50, owner, [owner] { owner->deleteLater(); });
    // Looked at a moment after the owner has gone.
    QObject::connect(owner, &QObject::destroyed, &scope, [&] { QTimer::singleShot(100, &scope, inspectAndClose); });
    // Should the box go with its owner, the call comes back without it.
    QtDialogs dialogs;
    EXPECT_EQ(dialogs.message(owner, {"text", "title", MessageIcon::Information, c.buttons}), c.answer);
    EXPECT_TRUE(boxOutlivedOwner);
    EXPECT_TRUE(textColour.isValid() && textColour == desktopText) << textColour.name().toStdString();
    EXPECT_TRUE(buttonColour.isValid() && buttonColour == desktopButtonText) << buttonColour.name().toStdString();
  }
}

}  // namespace
}  // namespace kirasol
