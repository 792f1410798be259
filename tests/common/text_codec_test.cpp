#include "common/text_codec.h"

#include <gtest/gtest.h>

using kirasol::decodeText;
using kirasol::decodeWindows874;
using kirasol::encodeWindows874;
using kirasol::isValidUtf8;

namespace {

// "สวัสดี" in Windows-874 / TIS-620.
const QByteArray kSawasdee874("\xCA\xC7\xD1\xCA\xB4\xD5");
const QString kSawasdee = QStringLiteral("สวัสดี");

struct DecodeCase {
  const char *name;
  QByteArray bytes;
  QString expected;
};

void PrintTo(const DecodeCase &c, std::ostream *os) { *os << c.name; }

class DecodeText : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeText, PicksTheEncoding) {
  EXPECT_EQ(decodeText(GetParam().bytes), GetParam().expected) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeText,
    ::testing::Values(
        DecodeCase{"empty", QByteArray(), QString()},
        DecodeCase{"ascii", QByteArray("Artist - Title"), QStringLiteral("Artist - Title")},
        DecodeCase{"thai utf8", kSawasdee.toUtf8(), kSawasdee},
        DecodeCase{"thai 874", kSawasdee874, kSawasdee},
        DecodeCase{"mixed ascii and 874", QByteArray("DJ ") + kSawasdee874 + " 24",
                   QStringLiteral("DJ สวัสดี 24")},
        DecodeCase{"874 punctuation", QByteArray("\x93" "a" "\x94" " \x85 \x80"),
                   QStringLiteral("\u201Ca\u201D \u2026 \u20AC")},
        // A lone continuation byte is not UTF-8, so the whole text is 874.
        DecodeCase{"invalid utf8 falls back", QByteArray("\xE0\xB8" "A"), QStringLiteral("\u0E40\u0E18A")},
        DecodeCase{"unassigned 874 bytes", QByteArray("\xDB\xFF"), QStringLiteral("\uFFFD\uFFFD")},
        DecodeCase{"truncated utf8 sequence", kSawasdee.toUtf8().left(4),
                   decodeWindows874(kSawasdee.toUtf8().left(4))}),
    [](const auto &info) {
      std::string n = info.param.name;
      for (char &c : n) if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      return n;
    });

TEST(Windows874, EveryThaiLetterRoundTrips) {
  for (int b = 0xA1; b <= 0xFB; ++b) {
    if (b >= 0xDB && b <= 0xDE) continue;
    const QByteArray one(1, char(b));
    const QString decoded = decodeWindows874(one);
    ASSERT_EQ(decoded.size(), 1);
    EXPECT_GE(decoded[0].unicode(), 0x0E01) << b;
    EXPECT_LE(decoded[0].unicode(), 0x0E5B) << b;
    EXPECT_EQ(encodeWindows874(decoded), one) << b;
  }
}

TEST(Windows874, EncodesWhatItCanAndMarksTheRest) {
  EXPECT_EQ(encodeWindows874(kSawasdee), kSawasdee874);
  EXPECT_EQ(encodeWindows874(QStringLiteral("a\u00E9b")), QByteArray("a?b"));
  // The replacement character is not a byte of the code page either, though
  // the unassigned bytes decode to it.
  EXPECT_EQ(encodeWindows874(QStringLiteral("a\uFFFDb")), QByteArray("a?b"));
}

TEST(Utf8Validity, Table) {
  EXPECT_TRUE(isValidUtf8(QByteArray()));
  EXPECT_TRUE(isValidUtf8(kSawasdee.toUtf8()));
  EXPECT_FALSE(isValidUtf8(kSawasdee874));
  EXPECT_FALSE(isValidUtf8(QByteArray("\xC0\x80")));  // overlong NUL
  EXPECT_FALSE(isValidUtf8(QByteArray("\xED\xA0\x80")));  // surrogate
}

}  // namespace
