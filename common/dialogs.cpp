#include "common/dialogs.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>

namespace kirasol {

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
  // On the heap and watched: the parent may be deleted while the box waits
  // (a window unloaded by a deferred delete that the box's own event loop
  // runs), and it deletes its children with it.
  QPointer<QMessageBox> box = new QMessageBox(icon, request.title, request.text, buttons, parent);
  const int answer = box->exec();
  delete box.data();
  if (request.buttons == MessageButtons::Ok) return MessageAnswer::Ok;
  return answer == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

std::optional<QString> QtDialogs::input(QWidget *parent, const QString &prompt, const QString &title,
                                        const QString &defaultText) {
  bool ok = false;
  const QString text = QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, defaultText, &ok);
  if (!ok) return std::nullopt;
  return text;
}

}  // namespace kirasol
