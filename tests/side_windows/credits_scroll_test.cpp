#include "player/side_windows/credits_scroll.h"

#include <gtest/gtest.h>

namespace kirasol::side {
namespace {

// 100 twips per character, unless a test says otherwise.
CreditsMetrics metrics(double width, double height, double letter) {
  return {width, height, letter, [](const QString &t) { return 100.0 * t.size(); }};
}

const CreditsColors kLightOnDark{qRgb(255, 214, 120), qRgb(16, 24, 48)};

TEST(CreditsSplit, LinesOfTheFile) {
  struct Case {
    const char *name;
    QByteArray bytes;
    QStringList lines;
  };
  const Case cases[] = {
      {"empty file", "", {}},
      {"CR LF", "one\r\ntwo\r\n", {"one", "two"}},
      {"LF and no final end", "one\ntwo", {"one", "two"}},
      {"lone CR", "one\rtwo\r", {"one", "two"}},
      {"empty lines kept", "\r\n\r\nx\r\n", {"", "", "x"}},
      {"UTF-8 Thai with BOM", "\xEF\xBB\xBF\xE0\xB8\x82\xE0\xB8\xAD\xE0\xB8\x9A\xE0\xB8\x84\xE0\xB8\xB8\xE0\xB8\x93\n",
       {QStringLiteral("ขอบคุณ")}},
      {"Windows-874 Thai", "\xA2\xCD\xBA\xA4\xD8\xB3\r\n", {QStringLiteral("ขอบคุณ")}},
  };
  for (const Case &c : cases) EXPECT_EQ(splitCreditLines(c.bytes), c.lines) << c.name;
}

TEST(CreditsLayout, ComputedInTwips) {
  struct Case {
    double boxHeight, letter;
    int visible, lineHeight, fadeTop, bottomStart, bottomRange;
  };
  const Case cases[] = {
      // 2250 / 225 + 1 = 11; 450 - 225; 2250 - 225 - 450; 2250 - 215 - 1575
      {2250, 225, 11, 225, 225, 1575, 460},
      // 1000 / 195 + 1 = 6.13; 200 - 195 = 5; 1000 - 5 - 390; 1000 - 185 - 605
      {1000, 195, 6, 195, 5, 605, 210},
      // 2250 / 180 + 1 = 13.5 rounds to the even 14
      {2250, 180, 14, 180, 270, 1620, 460},
      // 1250 / 500 + 1 = 3.5 rounds to 4; a box under five lines fades from a negative height
      {1250, 500, 4, 500, -250, 500, 260},
      // a fractional letter height rounds to even: 202.5 -> 202
      {2250, 202.5, 12, 202, 248, 1598, 460},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.boxHeight);
    SCOPED_TRACE(c.letter);
    const auto s = CreditsScroll::build({}, metrics(3900, c.boxHeight, c.letter), kLightOnDark);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->VisibleLines(), c.visible);
    EXPECT_EQ(s->LineHeight(), c.lineHeight);
    EXPECT_EQ(s->FadeTopHeight(), c.fadeTop);
    EXPECT_EQ(s->FadeBottomStart(), c.bottomStart);
    EXPECT_EQ(s->FadeBottomRange(), c.bottomRange);
    EXPECT_DOUBLE_EQ(s->FadeTopScale(), 100.0 / c.fadeTop);
    EXPECT_DOUBLE_EQ(s->FadeBottomScale(), 100.0 / c.bottomRange);
    EXPECT_EQ(s->CreditCount(), c.visible) << "an empty file leaves only the leading empty lines";
  }
}

TEST(CreditsLayout, LoadsThatCannotBeComputedFail) {
  // A box exactly five lines high has a zero top fade (division by zero).
  EXPECT_FALSE(CreditsScroll::build({}, metrics(3900, 1125, 225), kLightOnDark));
  EXPECT_FALSE(CreditsScroll::build({"x"}, metrics(3900, 2250, 0), kLightOnDark));
  // More lines than a 16-bit count holds.
  QStringList many;
  for (int i = 0; i < 32767; ++i) many << QStringLiteral("x");
  EXPECT_FALSE(CreditsScroll::build(many, metrics(3900, 2250, 225), kLightOnDark));
  many.resize(32767 - 11);
  EXPECT_TRUE(CreditsScroll::build(many, metrics(3900, 2250, 225), kLightOnDark));
}

TEST(CreditsLayout, LinesAreCentredAndWideOnesStartLeftOfTheBox) {
  struct Case {
    QString line;
    int x;
  };
  const Case cases[] = {
      {"", 1950},                  // (3900 - 0) / 2
      {"abcd", 1750},              // (3900 - 400) / 2
      {QString(40, u'w'), -50},    // (3900 - 4000) / 2
      {QString(60, u'w'), -1050},
  };
  QStringList lines;
  for (const Case &c : cases) lines << c.line;
  const auto s = CreditsScroll::build(lines, metrics(3900, 2250, 225), kLightOnDark);
  ASSERT_TRUE(s);
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(s->CreditX()[11 + i], cases[i].x) << i;
  // Half a twip rounds to even: (3901 - 0) / 2 = 1950.5 -> 1950, (3903 - 0) / 2 = 1951.5 -> 1952.
  EXPECT_EQ(CreditsScroll::build({}, metrics(3901, 2250, 225), kLightOnDark)->CreditX()[0], 1950);
  EXPECT_EQ(CreditsScroll::build({}, metrics(3903, 2250, 225), kLightOnDark)->CreditX()[0], 1952);
}

TEST(CreditsFade, TableBlendsBackgroundToText) {
  struct Case {
    const char *name;
    CreditsColors colors;
  };
  const Case cases[] = {
      {"light text on dark", kLightOnDark},
      {"dark text on light", {qRgb(10, 0, 5), qRgb(250, 240, 200)}},
      {"black on white", {qRgb(0, 0, 0), qRgb(255, 255, 255)}},
      {"same colour", {qRgb(7, 7, 7), qRgb(7, 7, 7)}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const auto s = CreditsScroll::build({}, metrics(3900, 2250, 225), c.colors);
    ASSERT_TRUE(s);
    const auto &f = s->FadeColors();
    EXPECT_EQ(f[0], c.colors.background);
    EXPECT_EQ(f[100], c.colors.text);
    EXPECT_EQ(s->TextColor(), c.colors.text);
    const QRgb t = c.colors.text, b = c.colors.background;
    for (int i = 0; i <= 100; ++i) {
      EXPECT_GE(qRed(f[i]), std::min(qRed(t), qRed(b))) << i;
      EXPECT_LE(qRed(f[i]), std::max(qRed(t), qRed(b))) << i;
      EXPECT_GE(qGreen(f[i]), std::min(qGreen(t), qGreen(b))) << i;
      EXPECT_LE(qGreen(f[i]), std::max(qGreen(t), qGreen(b))) << i;
      EXPECT_GE(qBlue(f[i]), std::min(qBlue(t), qBlue(b))) << i;
      EXPECT_LE(qBlue(f[i]), std::max(qBlue(t), qBlue(b))) << i;
    }
  }
  // -255 / 100 * 50 + 255 = 127.5 rounds to the even 128.
  const auto bw = CreditsScroll::build({}, metrics(3900, 2250, 225), {qRgb(0, 0, 0), qRgb(255, 255, 255)});
  EXPECT_EQ(bw->FadeColors()[50], qRgb(128, 128, 128));
}

TEST(CreditsScrolling, StepsAndLineAdvance) {
  auto s = CreditsScroll::build({"a"}, metrics(3900, 2250, 225), kLightOnDark);
  ASSERT_TRUE(s);
  // 15 twips per tick; only below -LineHeight does the next line come up.
  for (int tick = 1; tick <= 15; ++tick) {
    s->advance();
    EXPECT_EQ(s->ScrollY(), -15 * tick);
    EXPECT_EQ(s->TopIndex(), 0);
  }
  s->advance();
  EXPECT_EQ(s->ScrollY(), 0);
  EXPECT_EQ(s->TopIndex(), 1);
}

TEST(CreditsScrolling, FrameColoursByHeight) {
  // Box 2250 twips, line 225: top fade below 225, bottom fade above 1575.
  auto s = CreditsScroll::build({}, metrics(3900, 2250, 225), kLightOnDark);
  ASSERT_TRUE(s);
  const auto frame = s->frame();
  ASSERT_EQ(frame.size(), 11u);
  struct Row {
    int y;
    int fadeIndex;  // -1: the plain text colour
  };
  const Row rows[] = {
      {0, 0},      // at the top edge: background colour
      {225, -1},   {450, -1},  {1350, -1}, {1575, -1},  // FadeBottomStart itself is not faded
      {1800, 51},  // (460 - 225) * 100 / 460 = 51.09
      {2025, 2},   // (460 - 450) * 100 / 460 = 2.17
      {2250, -1},  // below the box: not faded (and not visible)
  };
  for (const Row &r : rows) {
    const auto it = std::find_if(frame.begin(), frame.end(), [&](const DrawnLine &l) { return l.y == r.y; });
    ASSERT_NE(it, frame.end()) << r.y;
    EXPECT_EQ(it->fadeIndex, r.fadeIndex) << r.y;
    EXPECT_EQ(it->color, r.fadeIndex < 0 ? kLightOnDark.text : s->FadeColors()[r.fadeIndex]) << r.y;
  }
  // Halfway up the top fade: 150 * 100 / 225 = 66.67 -> 67.
  for (int i = 0; i < 5; ++i) s->advance();  // ScrollY = -75
  const auto moved = s->frame();
  EXPECT_EQ(moved[0].y, -75);
  EXPECT_EQ(moved[0].fadeIndex, 0) << "negative index clamps to 0";
  EXPECT_EQ(moved[1].y, 150);
  EXPECT_EQ(moved[1].fadeIndex, 67);
}

TEST(CreditsScrolling, EmptyFileScrollsEmptyLines) {
  auto s = CreditsScroll::build({}, metrics(3900, 2250, 225), kLightOnDark);
  ASSERT_TRUE(s);
  for (int tick = 0; tick < 400; ++tick) {
    s->advance();
    for (const DrawnLine &l : s->frame()) ASSERT_TRUE(l.text.isEmpty());
  }
}

TEST(CreditsScrolling, FewLinesWrapAroundTheRing) {
  auto s = CreditsScroll::build({"A", "B"}, metrics(3900, 2250, 225), kLightOnDark);
  ASSERT_TRUE(s);
  ASSERT_EQ(s->CreditCount(), 13);  // 11 empty lines, then A and B
  auto texts = [&] {
    QStringList t;
    for (const DrawnLine &l : s->frame()) t << l.text;
    return t;
  };
  EXPECT_EQ(texts().back(), "A") << "the first text line waits just below the box";
  std::vector<int> tops;
  std::vector<QStringList> frames;
  for (int tick = 0; tick < 16 * 14; ++tick) {
    s->advance();
    if (s->ScrollY() == 0) {
      tops.push_back(s->TopIndex());
      frames.push_back(texts());
    }
  }
  // One line per 16 ticks; after index 12 the ring starts again at 0.
  ASSERT_EQ(tops.size(), 14u);
  EXPECT_EQ(tops[11], 12);
  EXPECT_EQ(tops[12], 0);
  EXPECT_EQ(tops[13], 1);
  // TopIndex 3 draws indices 4..14 mod 13: seven empty lines, A, B, then empty lines again.
  const QStringList expected{"", "", "", "", "", "", "", "A", "B", "", ""};
  EXPECT_EQ(frames[2], expected);
  // TopIndex 12 draws indices 0..10: nothing but empty lines; TopIndex 0 brings A back.
  EXPECT_EQ(frames[11], QStringList(11, QString()));
  EXPECT_EQ(frames[12].back(), "A");
}

}  // namespace
}  // namespace kirasol::side
