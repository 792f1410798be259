#include "common/text_codec.h"

#include <QStringDecoder>
#include <array>

namespace kirasol {
namespace {

constexpr char16_t kInvalid = 0xFFFD;

// 0x80-0x9F of Windows-874; zero marks an unassigned byte.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0,      0,      0,      0,      0x2026, 0,      0,       // 80-87
    0,      0,      0,      0,      0,      0,      0,      0,       // 88-8F
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0,      0,      0,      0,      0,      0,      0,      0,       // 98-9F
};

char16_t windows874ToUnicode(unsigned char byte) {
  if (byte < 0x80) return byte;
  if (byte < 0xA0) {
    const char16_t c = kHighControls[byte - 0x80];
    return c ? c : kInvalid;
  }
  if (byte == 0xA0) return 0x00A0;
  // Thai letters follow the Unicode Thai block in order, with two gaps that
  // TIS-620 leaves unassigned (0xDB-0xDE and 0xFC-0xFF).
  if (byte <= 0xDA) return char16_t(0x0E01 + (byte - 0xA1));
  if (byte >= 0xDF && byte <= 0xFB) return char16_t(0x0E3F + (byte - 0xDF));
  return kInvalid;
}

}  // namespace

bool isValidUtf8(QByteArrayView bytes) {
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString ignored = decoder(bytes);
  return !decoder.hasError();
}

QString decodeWindows874(QByteArrayView bytes) {
  QString out;
  out.resize(bytes.size());
  for (qsizetype i = 0; i < bytes.size(); ++i) {
    out[i] = QChar(windows874ToUnicode(static_cast<unsigned char>(bytes[i])));
  }
  return out;
}

QString decodeText(QByteArrayView bytes) {
  if (isValidUtf8(bytes)) return QString::fromUtf8(bytes);
  return decodeWindows874(bytes);
}

QByteArray encodeWindows874(const QString &text) {
  QByteArray out;
  out.reserve(text.size());
  for (const QChar ch : text) {
    const char16_t u = ch.unicode();
    char byte = '?';
    if (u < 0x80) {
      byte = char(u);
    } else if (u != kInvalid) {
      // U+FFFD stands for the code page's unassigned bytes; it has no byte
      // of its own.
      for (int b = 0x80; b <= 0xFF; ++b) {
        if (windows874ToUnicode(static_cast<unsigned char>(b)) == u) {
          byte = char(b);
          break;
        }
      }
    }
    out.append(byte);
  }
  return out;
}

}  // namespace kirasol
