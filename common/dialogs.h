#pragma once
// The one seam through which windows ask the user something. Windows take a
// Dialogs& so that tests can answer boxes without a person at the screen.

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace kirasol {

class ProgramLauncher;

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

// Real boxes (QMessageBox, QInputDialog). Each is a window of its own in the
// desktop's colours, placed over `parent`'s window and kept above it, and
// application-modal; `parent` may go away while the box is open.
class QtDialogs final : public Dialogs {
 public:
  MessageAnswer message(QWidget *parent, const MessageRequest &request) override;
  std::optional<QString> input(QWidget *parent, const QString &prompt, const QString &title,
                               const QString &defaultText) override;
};

// Starts a program by its bare name; when it cannot be started, a box says
// which one and the caller goes on. True when it was started.
bool startProgramOrTell(ProgramLauncher &launcher, Dialogs &dialogs, const QString &bareName,
                        const QStringList &args = {}, QWidget *parent = nullptr);

}  // namespace kirasol
