#pragma once
// The one seam through which windows ask the user something. Windows take a
// Dialogs& so that tests can answer boxes without a person at the screen.

#include <QString>
#include <optional>

class QWidget;

namespace kirasol {

enum class MessageIcon { None, Information, Warning, Critical, Question };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

struct MessageRequest {
  QString text;
  QString title;
  MessageIcon icon = MessageIcon::None;
  MessageButtons buttons = MessageButtons::Ok;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A modal message box; returns the button pressed (Ok for an Ok-only box,
  // No when a Yes/No box is closed without a choice).
  virtual MessageAnswer message(QWidget *parent, const MessageRequest &request) = 0;
  // A modal input box; nullopt when cancelled.
  virtual std::optional<QString> input(QWidget *parent, const QString &prompt, const QString &title,
                                       const QString &defaultText) = 0;
};

// Real boxes (QMessageBox, QInputDialog).
class QtDialogs final : public Dialogs {
 public:
  MessageAnswer message(QWidget *parent, const MessageRequest &request) override;
  std::optional<QString> input(QWidget *parent, const QString &prompt, const QString &title,
                               const QString &defaultText) override;
};

}  // namespace kirasol
