#include "common/dialogs.h"

#include "common/program_launcher.h"

#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QWindow>

namespace kirasol {

namespace {

// A box is a window of its own, never a child of the window it speaks for.
// As a child it would take on that window's style sheet (the skinned main
// window's light text on transparent buttons made boxes unreadable) and be
// deleted with it (a splash unloaded while its box waits). The owner only
// decides where the box appears and what it stays above; the box is
// application-modal, as a message box is.
void placeOver(QDialog &box, QWidget *owner) {
  box.setWindowModality(Qt::ApplicationModal);
  // Closing a box never ends the program, even when no other window shows.
  box.setAttribute(Qt::WA_QuitOnClose, false);
  QWidget *window = owner != nullptr ? owner->window() : nullptr;
  if (window == nullptr || !window->isVisible()) return;  // centred on the screen, as without an owner
  box.winId();
  if (QWindow *ownerHandle = window->windowHandle()) box.windowHandle()->setTransientParent(ownerHandle);
  QRect frame(QPoint(), box.sizeHint());
  frame.moveCenter(window->frameGeometry().center());
  if (const QScreen *screen = window->screen()) {
    const QRect available = screen->availableGeometry();
    frame.moveLeft(qBound(available.left(), frame.left(), qMax(available.left(), available.right() - frame.width())));
    frame.moveTop(qBound(available.top(), frame.top(), qMax(available.top(), available.bottom() - frame.height())));
  }
  box.move(frame.topLeft());
}

}  // namespace

MessageAnswer QtDialogs::message(QWidget *parent, const MessageRequest &request) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (request.icon) {
    case MessageIcon::None: icon = QMessageBox::NoIcon; break;
    case MessageIcon::Information: icon = QMessageBox::Information; break;
    case MessageIcon::Warning: icon = QMessageBox::Warning; break;
    case MessageIcon::Critical: icon = QMessageBox::Critical; break;
    case MessageIcon::Question: icon = QMessageBox::Question; break;
  }
  const auto buttons = request.buttons == MessageButtons::YesNo ? (QMessageBox::Yes | QMessageBox::No)
                                                                 : QMessageBox::StandardButtons(QMessageBox::Ok);
  auto *box = new QMessageBox(icon, request.title, request.text, buttons);
  placeOver(*box, parent);
  QPointer<QMessageBox> watched(box);
  const int answer = box->exec();
  delete watched.data();
  if (request.buttons == MessageButtons::Ok) return MessageAnswer::Ok;
  return answer == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

std::optional<QString> QtDialogs::input(QWidget *parent, const QString &prompt, const QString &title,
                                        const QString &defaultText) {
  auto *box = new QInputDialog;
  box->setWindowTitle(title);
  box->setLabelText(prompt);
  box->setTextValue(defaultText);
  box->setInputMode(QInputDialog::TextInput);
  placeOver(*box, parent);
  QPointer<QInputDialog> watched(box);
  const int answer = box->exec();
  if (watched.isNull() || answer != QDialog::Accepted) {
    delete watched.data();
    return std::nullopt;
  }
  const QString text = watched->textValue();
  delete watched.data();
  return text;
}

bool startProgramOrTell(ProgramLauncher &launcher, Dialogs &dialogs, const QString &bareName,
                        const QStringList &args, QWidget *parent) {
  if (launcher.startProgram(bareName, args)) return true;
  dialogs.message(parent, {QStringLiteral("ไม่พบโปรแกรม %1 หรือเปิดโปรแกรมไม่ได้").arg(bareName),
                           QStringLiteral("Kirasol Radio"), MessageIcon::Warning, MessageButtons::Ok});
  return false;
}

}  // namespace kirasol
