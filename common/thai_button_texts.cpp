#include "common/thai_button_texts.h"

#include <QCoreApplication>
#include <cstring>

namespace kirasol {

namespace {

struct ButtonText {
  const char *english;  // without the mnemonic '&'
  const char *thai;
};

// The texts Qt's platform themes give the standard buttons.
constexpr ButtonText kButtonTexts[] = {
    {"OK", "ตกลง"},
    {"Cancel", "ยกเลิก"},
    {"Yes", "ใช่"},
    {"No", "ไม่ใช่"},
    {"Yes to All", "ใช่ทั้งหมด"},
    {"No to All", "ไม่ใช่ทั้งหมด"},
    {"Close", "ปิด"},
    {"Close without Saving", "ปิดโดยไม่บันทึก"},
    {"Save", "บันทึก"},
    {"Save All", "บันทึกทั้งหมด"},
    {"Open", "เปิด"},
    {"Abort", "ยกเลิก"},
    {"Retry", "ลองใหม่"},
    {"Ignore", "ข้าม"},
    {"Discard", "ไม่บันทึก"},
    {"Help", "วิธีใช้"},
    {"Apply", "นำไปใช้"},
    {"Reset", "รีเซ็ต"},
    {"Restore Defaults", "คืนค่าเริ่มต้น"},
};

}  // namespace

QString ThaiButtonTexts::translate(const char *context, const char *sourceText, const char *, int) const {
  if (context == nullptr || sourceText == nullptr) return {};
  if (std::strcmp(context, "QPlatformTheme") != 0 && std::strcmp(context, "QGnomeTheme") != 0) return {};
  const QString english = QString::fromUtf8(sourceText).remove(u'&');
  for (const ButtonText &text : kButtonTexts) {
    if (english == QLatin1String(text.english)) return QString::fromUtf8(text.thai);
  }
  return {};
}

void installThaiButtonTexts() {
  auto *texts = new ThaiButtonTexts(QCoreApplication::instance());
  QCoreApplication::installTranslator(texts);
}

}  // namespace kirasol
