#include "common/text_rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(RoundHalfEven, Table) {
  const struct {
    double in;
    double out;
  } cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {3.5, 4}, {-0.5, -0}, {-1.5, -2}, {-2.5, -2},
               {2.4999, 2}, {2.5001, 3}, {45.5, 46}, {46.5, 46}, {1e300, 1e300}};
  for (const auto &c : cases) EXPECT_EQ(kirasol::roundHalfEven(c.in), c.out) << c.in;
}

TEST(RoundInto, WidthsAndOverflow) {
  EXPECT_EQ(kirasol::toInt16(32767.4), std::optional<std::int16_t>(32767));
  EXPECT_EQ(kirasol::toInt16(32767.5), std::nullopt);  // rounds to 32768
  EXPECT_EQ(kirasol::toInt16(-32768.5), std::optional<std::int16_t>(-32768));  // halves to even
  EXPECT_EQ(kirasol::toInt16(-32769), std::nullopt);
  EXPECT_EQ(kirasol::toInt32(2147483647.0), std::optional<std::int32_t>(2147483647));
  EXPECT_EQ(kirasol::toInt32(2147483648.0), std::nullopt);
  EXPECT_EQ(kirasol::toInt32(std::nan("")), std::nullopt);
}

TEST(OrdinalCompare, VersionsAreText) {
  const struct {
    const char *a, *b;
    int sign;
  } cases[] = {{"1.1", "1.1", 0}, {"1.10", "1.9", -1}, {"1.2", "1.10", 1}, {"", "0", -1},
               {"a", "B", 1}, {"1.1", "1.1 ", -1}};
  for (const auto &c : cases) {
    const int r = kirasol::ordinalCompare(QString::fromUtf8(c.a), QString::fromUtf8(c.b));
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
  }
}

TEST(FirstField, Table) {
  const struct {
    const char *text;
    std::optional<const char *> field;
  } cases[] = {
      {"1.1\r\n", "1.1"},
      {"1.2", "1.2"},
      {"  \t1.3,extra\r\n", "1.3"},
      {"\"1,4\",x", "1,4"},
      {"\"unclosed", "unclosed"},
      {"1.5\nsecond line", "1.5"},
      {",1.6", ""},
      {"", std::nullopt},
      {"   ", std::nullopt},
  };
  for (const auto &c : cases) {
    const auto got = kirasol::firstField(QString::fromUtf8(c.text));
    if (!c.field) {
      EXPECT_FALSE(got.has_value()) << c.text;
    } else {
      ASSERT_TRUE(got.has_value()) << c.text;
      EXPECT_EQ(*got, QString::fromUtf8(*c.field)) << c.text;
    }
  }
}

}  // namespace
