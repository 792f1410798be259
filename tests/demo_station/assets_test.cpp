// The data files as they land in the program folder: what the player, the
// updater and the station rely on in them.

#include "common/text_codec.h"
#include "common/text_rules.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QImage>
#include <QRect>
#include <QRegularExpression>
#include <QSet>
#include <QtEndian>

using kirasol::test::programDir;
using kirasol::test::readFile;

namespace {

const QRgb kKey = qRgb(0, 255, 255);

QString bin(const QString &name) { return programDir() + u'/' + name; }

struct FrameWalk {
  int frames = 0;
  bool allSame = true;  // every frame MPEG-1 layer III, 128 kbit/s, 44.1 kHz, two channels
  qsizetype stoppedAt = 0;  // where the walk left the frames (== size when it ended exactly)
};

// Walks MPEG-1 layer III frames from byte 0: 144 × bitrate / samplerate (+ padding) bytes each.
FrameWalk walkFrames(const QByteArray &b) {
  FrameWalk w;
  qsizetype at = 0;
  while (at + 4 <= b.size()) {
    const auto h1 = uchar(b[at + 1]), h2 = uchar(b[at + 2]), h3 = uchar(b[at + 3]);
    if (uchar(b[at]) != 0xFF || (h1 & 0xFE) != 0xFA) break;  // sync, MPEG-1, layer III
    const int bitrateIndex = h2 >> 4, rateIndex = (h2 >> 2) & 3, padding = (h2 >> 1) & 1, mode = h3 >> 6;
    if (bitrateIndex != 9 || rateIndex != 0 || mode == 3) w.allSame = false;  // 128k, 44100, not mono
    static constexpr int kbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static constexpr int rates[] = {44100, 48000, 32000, 0};
    if (kbps[bitrateIndex] == 0 || rates[rateIndex] == 0) break;
    at += 144 * kbps[bitrateIndex] * 1000 / rates[rateIndex] + padding;
    ++w.frames;
  }
  w.stoppedAt = at;
  return w;
}

}  // namespace

TEST(Assets, DemoTracksAreBareConstantRateFramesWithDistinctTones) {
  const QStringList lines =
      QString::fromUtf8(readFile(bin(QStringLiteral("demo/tracks.txt")))).split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 3);
  QSet<int> tones;
  bool thaiTitle = false;
  for (const QString &line : lines) {
    SCOPED_TRACE(qPrintable(line));
    const QStringList f = line.split(u'|');
    ASSERT_EQ(f.size(), 3);
    EXPECT_TRUE(f[1].contains(QStringLiteral(" - ")));
    thaiTitle = thaiTitle || f[1].contains(QRegularExpression(QStringLiteral("[\u0E01-\u0E5B]")));
    tones.insert(f[2].toInt());
    const QByteArray mp3 = readFile(bin(QStringLiteral("demo/") + f[0]));
    const FrameWalk w = walkFrames(mp3);
    EXPECT_TRUE(w.allSame);
    EXPECT_EQ(w.stoppedAt, mp3.size()) << "bytes that are not MPEG frames (a tag?) at " << w.stoppedAt;
    const double seconds = w.frames * 1152 / 44100.0;
    EXPECT_GE(seconds, 20);
    EXPECT_LE(seconds, 40);
  }
  EXPECT_TRUE(thaiTitle);
  EXPECT_EQ(tones.size(), 3);
  EXPECT_FALSE(tones.contains(0));
}

TEST(Assets, SkinHasExactKeyHolesAndRoomForEveryControl) {
  const QImage skin(bin(QStringLiteral("skin.png")));
  ASSERT_EQ(skin.size(), QSize(281, 172));
  for (const QPoint &corner : {QPoint(0, 0), QPoint(280, 0), QPoint(0, 171), QPoint(280, 171)})
    EXPECT_EQ(skin.pixel(corner), kKey) << corner.x() << "," << corner.y();
  // Where the controls and the spectrum sit, the skin is body, never a hole.
  const std::vector<std::pair<const char *, QRect>> places = {
      {"lblMini", {222, 14, 22, 13}},     {"lblExit", {249, 14, 22, 13}},   {"lblName", {14, 35, 254, 11}},
      {"lblSong", {14, 47, 254, 11}},     {"Timer", {12, 62, 60, 13}},      {"lblModem", {12, 77, 22, 11}},
      {"lblCPU", {34, 77, 38, 11}},       {"spectrum", {74, 60, 120, 40}},  {"lblBPS", {197, 62, 72, 13}},
      {"btnPresents", {12, 112, 48, 20}}, {"lblStop", {64, 112, 48, 20}},   {"PushButton1", {116, 112, 48, 20}},
      {"Request", {168, 112, 50, 20}},    {"cmdUpdate", {222, 112, 48, 20}}, {"lblBroadband", {12, 145, 34, 12}},
      {"sldVol", {50, 145, 146, 12}},     {"lblVolume", {200, 145, 42, 12}}, {"Label1", {12, 159, 9, 9}},
  };
  for (const auto &[name, r] : places) {
    int holes = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x) holes += skin.pixel(x, y) == kKey;
    EXPECT_EQ(holes, 0) << name;
  }
  // The spectrum's left columns (74-90) are never painted by it; they must already look like the well.
  for (int y = 60; y <= 99; ++y)
    for (int x = 74; x <= 90; ++x) ASSERT_EQ(skin.pixel(x, y), qRgb(0, 0, 0)) << x << "," << y;
  // Holes are only the outside: every key pixel is reached from the edge
  // through key pixels, none is enclosed by the body.
  std::vector<char> seen(size_t(skin.width() * skin.height()), 0);
  std::vector<QPoint> todo;
  const auto visit = [&](int x, int y) {
    if (x < 0 || y < 0 || x >= skin.width() || y >= skin.height()) return;
    char &s = seen[size_t(y * skin.width() + x)];
    if (s || skin.pixel(x, y) != kKey) return;
    s = 1;
    todo.push_back({x, y});
  };
  for (int x = 0; x < skin.width(); ++x) visit(x, 0), visit(x, skin.height() - 1);
  for (int y = 0; y < skin.height(); ++y) visit(0, y), visit(skin.width() - 1, y);
  while (!todo.empty()) {
    const QPoint p = todo.back();
    todo.pop_back();
    visit(p.x() + 1, p.y()), visit(p.x() - 1, p.y()), visit(p.x(), p.y() + 1), visit(p.x(), p.y() - 1);
  }
  int keyPixels = 0, enclosed = 0;
  for (int y = 0; y < skin.height(); ++y)
    for (int x = 0; x < skin.width(); ++x)
      if (skin.pixel(x, y) == kKey) {
        ++keyPixels;
        enclosed += !seen[size_t(y * skin.width() + x)];
      }
  EXPECT_EQ(enclosed, 0);
  EXPECT_GT(keyPixels, 200);       // the rounded corners and the space beside the antenna
  EXPECT_LT(keyPixels, 281 * 30);  // but the body fills the window
}

TEST(Assets, SharpPicturesAreTwiceTheSizeAndTheSkinKeepsTheShape) {
  // The window's shape is cut from the 1x skin, enlarged by the window system:
  // the 2x skin's holes must be exactly those, or a cyan fringe shows.
  const QImage skin(bin(QStringLiteral("skin.png")));
  const QImage sharp(bin(QStringLiteral("skin@2x.png")));
  ASSERT_EQ(sharp.size(), skin.size() * 2);
  int mismatched = 0;
  for (int y = 0; y < sharp.height(); ++y)
    for (int x = 0; x < sharp.width(); ++x)
      mismatched += (sharp.pixel(x, y) == kKey) != (skin.pixel(x / 2, y / 2) == kKey);
  EXPECT_EQ(mismatched, 0);
  EXPECT_EQ(QImage(bin(QStringLiteral("splash@2x.png"))).size(), QImage(bin(QStringLiteral("splash.png"))).size() * 2);
}

TEST(Assets, IconsHaveTheirMenuSizes) {
  const std::vector<std::pair<const char *, QSize>> icons = {
      {"imgAbout", {14, 14}},  {"imgUpdate", {14, 14}}, {"imgRequest", {14, 14}}, {"imgPlay", {14, 14}},
      {"imgSkin", {14, 14}},   {"imgChat", {14, 14}},   {"imgTV", {13, 15}},      {"imgWeb", {14, 14}},
      {"imgReccord", {14, 14}}, {"imgOntop", {14, 14}}, {"imgExit", {14, 14}},
      {"kirasol-radio-64", {64, 64}}, {"kirasol-radio-256", {256, 256}},
  };
  for (const auto &[name, size] : icons) {
    for (const char *scale : {"", "@2x"}) {
      if (*scale && QLatin1String(name).startsWith(QLatin1String("kirasol-radio"))) continue;  // sizes of their own
      SCOPED_TRACE(std::string(name) + scale);
      const QImage img(bin(QStringLiteral("icons/%1%2.png").arg(QLatin1String(name), QLatin1String(scale))));
      ASSERT_FALSE(img.isNull());
      EXPECT_EQ(img.size(), *scale ? size * 2 : size);
      int opaque = 0;
      for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) opaque += qAlpha(img.pixel(x, y)) > 128;
      EXPECT_GT(opaque, img.width() * img.height() / 6);  // a picture, not an empty square
    }
  }
}

TEST(Assets, JingleIsAShortAudibleWave) {
  const QByteArray wav = readFile(bin(QStringLiteral("intro.wav")));
  ASSERT_GT(wav.size(), 44);
  ASSERT_TRUE(wav.startsWith("RIFF"));
  ASSERT_EQ(wav.mid(8, 8), "WAVEfmt ");
  const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(wav.constData() + at); };
  const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(wav.constData() + at); };
  EXPECT_EQ(u16(20), 1);   // PCM
  EXPECT_EQ(u16(34), 16);  // bits
  ASSERT_EQ(wav.mid(36, 4), "data");
  const quint32 bytes = u32(40);
  ASSERT_EQ(qsizetype(bytes), wav.size() - 44);
  const double seconds = double(bytes) / u32(28);  // byte rate
  EXPECT_GT(seconds, 0.5);
  EXPECT_LT(seconds, 3.0);
  int peak = 0;
  for (qsizetype i = 44; i + 1 < wav.size(); i += 2)
    peak = std::max(peak, std::abs(int(qFromLittleEndian<qint16>(wav.constData() + i))));
  EXPECT_GT(peak, 32767 / 4);
  EXPECT_LT(peak, 32767);  // not clipped
}

TEST(Assets, TextFilesReadTheWayTheProgramsReadThem) {
  EXPECT_EQ(readFile(bin(QStringLiteral("version.dat"))), "1.1\r\n");
  const QByteArray credits = readFile(bin(QStringLiteral("Credits.txt")));
  EXPECT_TRUE(kirasol::isValidUtf8(credits));
  const QString text = kirasol::decodeText(credits);
  EXPECT_TRUE(text.contains(QStringLiteral("คีราซล")));
  EXPECT_TRUE(text.contains(QStringLiteral("Thank you")));

  // The update folder: both version files name 1.1 in their first field, and
  // every file that files.dat lists is there.
  const QString update = bin(QStringLiteral("demo/update/"));
  for (const char *name : {"liveupdate.html", "version.dat"})
    EXPECT_EQ(kirasol::firstField(kirasol::decodeText(readFile(update + QLatin1String(name)))), QStringLiteral("1.1"))
        << name;
  const QStringList lines =
      kirasol::decodeText(readFile(update + QStringLiteral("files.dat"))).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  ASSERT_FALSE(lines.isEmpty());
  for (const QString &line : lines) {
    // Name, version and the SHA-256 that scripts/sign-update wrote.
    const QStringList f = line.split(u',');
    ASSERT_EQ(f.size(), 3) << qPrintable(line);
    EXPECT_FALSE(readFile(update + f[0]).isEmpty()) << qPrintable(f[0]);
    EXPECT_EQ(f[1], QStringLiteral("1.1"));
    EXPECT_EQ(f[2], QCryptographicHash::hash(readFile(update + f[0]), QCryptographicHash::Sha256).toHex());
  }
}
