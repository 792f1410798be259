#pragma once
// Thai texts for the standard dialog buttons (OK, Cancel, Yes, No, ...).
//
// Every message of both programs is Thai whatever the desktop's language,
// so the buttons under them are Thai too: a listener who can read the
// question can read ใช่ / ไม่ใช่, while English buttons under a Thai question
// look broken. Qt's own translation catalogues carry no Thai, so the few
// texts are kept here.

#include <QTranslator>

namespace kirasol {

class ThaiButtonTexts final : public QTranslator {
 public:
  using QTranslator::QTranslator;
  bool isEmpty() const override { return false; }
  QString translate(const char *context, const char *sourceText, const char *disambiguation,
                    int n) const override;
};

// Installs one ThaiButtonTexts on the running application.
void installThaiButtonTexts();

}  // namespace kirasol
