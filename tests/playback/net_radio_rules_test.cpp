#include "player/playback/net_radio_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace kirasol {
namespace {

TEST(BufferPercentage, RoundsHalfToEvenAndHandlesOddSizes) {
  struct Case {
    QWORD held, end;
    int expected;
  };
  const Case cases[] = {
      {125, 1000, 12},                 // 12.5 -> 12
      {135, 1000, 14},                 // 13.5 -> 14
      {750, 1000, 75},
      {760, 1000, 76},
      {0, 80000, 0},
      {80000, 80000, 100},
      {QWORD(-1), QWORD(-1), 100},     // failed queries on a channel that is not a stream
      {0, 0, 0},                       // live stream without a buffer size: keep buffering
      {5000, 0, 0},
      {30000000, 40000000, 75},        // held * 100 beyond 32 bits
  };
  for (const auto &c : cases)
    EXPECT_EQ(bufferPercentage(c.held, c.end), c.expected) << c.held << "/" << c.end;
  EXPECT_EQ(bufferingText(42), QStringLiteral("buffering... 42%"));
}

TEST(StationHeaders, ReadsNameAndBitRateExactly) {
  using Lines = std::string;
  auto block = [](std::initializer_list<const char *> lines) {
    Lines b;
    for (const char *l : lines) b += std::string(l) + '\0';
    return b + '\0';
  };
  const auto both = block({"ICY 200 OK", "icy-name:My Station", "icy-br:128", "icy-metaint:16000"});
  auto h = parseStationHeaders(both.data());
  EXPECT_EQ(h.name, QStringLiteral("My Station"));
  EXPECT_EQ(h.bitRate, QStringLiteral("128"));
  EXPECT_EQ(bitRateText(*h.bitRate), QStringLiteral("bitrate: 128"));

  const auto otherCase = block({"HTTP/1.0 200 OK", "ICY-NAME:x", "Icy-Br:64"});
  h = parseStationHeaders(otherCase.data());
  EXPECT_FALSE(h.name);
  EXPECT_FALSE(h.bitRate);

  const auto blanks = block({"ICY 200 OK", "icy-name:  Spaced", "icy-name:"});
  h = parseStationHeaders(blanks.data());
  EXPECT_EQ(h.name, QString()) << "the last matching line wins, even when empty";

  const auto firstOnly = block({"ICY 200 OK", "icy-name: Kept"});
  EXPECT_EQ(parseStationHeaders(firstOnly.data()).name, QStringLiteral(" Kept"));

  // The block ends at its empty line; nothing after it is read.
  const std::string ended = std::string("ICY 200 OK") + '\0' + '\0' + "icy-name:late" + '\0' + '\0';
  EXPECT_FALSE(parseStationHeaders(ended.data()).name);
  EXPECT_FALSE(parseStationHeaders(nullptr).name);

  // Thai station names in the Thai code page are decoded.
  const auto thai = block({"ICY 200 OK", "icy-name:\xA1\xD2\xC3"});
  EXPECT_EQ(parseStationHeaders(thai.data()).name, QStringLiteral("การ"));
}

TEST(SongTitle, CutsTheTitleOutOfTheMetadata) {
  struct Case {
    const char *meta;
    std::optional<QString> title;
  };
  const Case cases[] = {
      {"StreamTitle='Artist - Song';StreamUrl='';", QStringLiteral("Artist - Song")},
      {"StreamTitle='';", QString()},
      // The title ends at the "';" that closes it, not at a ";" or "'" of its own.
      {"StreamTitle='AC;DC - Back In Black';StreamUrl='';", QStringLiteral("AC;DC - Back In Black")},
      {"StreamTitle='A;B';", QStringLiteral("A;B")},
      {"StreamTitle='Don't Stop';StreamUrl='http://x/';", QStringLiteral("Don't Stop")},
      {"StreamTitle='Rock';n';Roll';StreamUrl='';", QStringLiteral("Rock';n';Roll")},
      {"StreamTitle='Tail';\t", QStringLiteral("Tail")},
      {"StreamTitle='Hello'", QStringLiteral("Hello")},  // no "';": without the closing quote
      {"StreamTitle='Hello", QStringLiteral("Hello")},
      {"StreamTitle=';x';", QStringLiteral(";x")},
      {"StreamTitle='", QString()},
      // Numeric character references (Icecast's form of a UTF-8 push); ones
      // that name no character stay as they are.
      {"StreamTitle='&#3626;&#3640;&#x0E02; &#X41;&amp;';", QStringLiteral("สุข A&amp;")},
      {"StreamTitle='&#0;&#55296;&#1114112;&#99999999999;&#x;&#12';", QStringLiteral("&#0;&#55296;&#1114112;&#99999999999;&#x;&#12")},
      {"StreamTitle='&#128512;';", QString::fromUcs4(U"\U0001F600")},
      {"streamtitle='x';", std::nullopt},
      {"StreamUrl='x';", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto &c : cases)
    EXPECT_EQ(songTitleFromMeta(StringFromAnsiPtr(c.meta)), c.title) << c.meta;
  EXPECT_EQ(songTitleFromMeta(StringFromAnsiPtr("StreamTitle='\xA1\xD2\xC3';")), QStringLiteral("การ"));
  EXPECT_EQ(songTitleFromMeta(StringFromAnsiPtr("StreamTitle='เพลง';")), QStringLiteral("เพลง"));
}

TEST(SmallRoutines, WordsTextsAndPresets) {
  EXPECT_EQ(HiWord(0x02041100u), 0x0204u);
  EXPECT_EQ(LoWord(0x02041100u), 0x1100u);
  EXPECT_EQ(HiWord(0xFFFFFFFFu), 0xFFFFu);

  EXPECT_EQ(StringFromAnsiPtr(nullptr), QString());
  EXPECT_EQ(StringFromAnsiPtr(""), QString());

  struct Cpu {
    float value;
    const char *text;
  };
  for (const Cpu &c : {Cpu{0.f, "0.00"}, Cpu{3.14159f, "3.14"}, Cpu{12.5f, "12.50"}, Cpu{0.125f, "0.12"},
                       Cpu{0.375f, "0.38"}, Cpu{100.f, "100.00"}})
    EXPECT_EQ(cpuText(c.value), QString::fromLatin1(c.text)) << c.value;

  struct Preset {
    int preset, index;
  };
  for (const Preset &p : {Preset{0, 0}, Preset{1, 2}, Preset{4, 8}, Preset{5, 1}, Preset{7, 5}})
    EXPECT_EQ(stationUrlIndex(p.preset), p.index) << p.preset;
}

}  // namespace
}  // namespace kirasol
