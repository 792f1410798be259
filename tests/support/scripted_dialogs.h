#pragma once
// A Dialogs that records every box and answers from a script, for tests.

#include "common/dialogs.h"

#include <QStringList>
#include <deque>
#include <vector>

namespace kirasol::test {

class ScriptedDialogs final : public Dialogs {
 public:
  std::vector<MessageRequest> messages;
  std::vector<QString> inputPrompts;
  std::deque<MessageAnswer> answers;           // for Yes/No boxes; default No
  std::deque<std::optional<QString>> inputs;   // for input boxes; default cancel

  MessageAnswer message(QWidget *, const MessageRequest &request) override {
    messages.push_back(request);
    if (request.buttons == MessageButtons::Ok) return MessageAnswer::Ok;
    if (answers.empty()) return MessageAnswer::No;
    const MessageAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  std::optional<QString> input(QWidget *, const QString &prompt, const QString &, const QString &) override {
    inputPrompts.push_back(prompt);
    if (inputs.empty()) return std::nullopt;
    // Copied out field by field: copying the optional itself trips a false
    // -Wmaybe-uninitialized in GCC 12.
    const bool answered = inputs.front().has_value();
    const QString text = answered ? *inputs.front() : QString();
    inputs.pop_front();
    if (!answered) return std::nullopt;
    return text;
  }
};

}  // namespace kirasol::test
