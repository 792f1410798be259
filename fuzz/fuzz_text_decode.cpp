// The text policy on arbitrary bytes: valid UTF-8 decodes as UTF-8 and
// survives the trip back; anything else is Windows-874, one character per
// byte, and every byte the code page defines survives encoding back.

#include "common/text_codec.h"
#include "common/text_rules.h"
#include "fuzz/fuzz_input.h"

using namespace kirasol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));

  const QString thai = decodeWindows874(bytes);
  FUZZ_CHECK(thai.size() == bytes.size(), "one character per byte in Windows-874");
  const QByteArray back = encodeWindows874(thai);
  FUZZ_CHECK(back.size() == bytes.size(), "one byte per character back");
  for (qsizetype i = 0; i < bytes.size(); ++i) {
    if (thai[i] == QChar(0xFFFD)) {
      FUZZ_CHECK(back[i] == '?', "an undefined byte comes back as '?'");
    } else {
      FUZZ_CHECK(back[i] == bytes[i], "a defined byte comes back as itself");
    }
  }

  const bool utf8 = isValidUtf8(bytes);
  const QString text = decodeText(bytes);
  if (utf8) {
    FUZZ_CHECK(text == QString::fromUtf8(bytes), "valid UTF-8 decodes as UTF-8");
    FUZZ_CHECK(text.toUtf8() == bytes, "valid UTF-8 survives the round trip");
  } else {
    FUZZ_CHECK(text == thai, "other bytes decode as Windows-874");
  }

  const std::optional<QString> field = firstField(text);
  if (field) FUZZ_CHECK(text.contains(*field), "the first field is a piece of the text");
  return 0;
}
