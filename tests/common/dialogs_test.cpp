#include "common/dialogs.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

namespace kirasol {
namespace {

// A window that goes away while its message box is open (the splash window
// unloaded by a deferred delete during its update check) takes the box with
// it; the call must come back instead of freeing the box a second time.
TEST(QtDialogsMessage, ParentDeletedWhileTheBoxIsOpen) {
  struct Case {
    MessageButtons buttons;
    MessageAnswer answer;
  };
  for (const Case &c : {Case{MessageButtons::Ok, MessageAnswer::Ok}, Case{MessageButtons::YesNo, MessageAnswer::No}}) {
    auto *parent = new QWidget;
    parent->show();
    QPointer<QWidget> guard(parent);
    QTimer::singleShot(50, parent, [parent] { parent->deleteLater(); });
    // Should the box survive its parent, close it so the test ends either way.
    QTimer::singleShot(3000, [] {
      if (QWidget *modal = QApplication::activeModalWidget()) modal->close();
    });
    QtDialogs dialogs;
    EXPECT_EQ(dialogs.message(parent, {"text", "title", MessageIcon::Information, c.buttons}), c.answer);
    EXPECT_TRUE(guard.isNull());
  }
}

}  // namespace
}  // namespace kirasol
