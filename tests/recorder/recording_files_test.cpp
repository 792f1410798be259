#include "player/recorder/id3_tag.h"
#include "player/recorder/mp3_frame_tracker.h"
#include "player/recorder/recording_files.h"
#include "common/text_codec.h"
#include "recorder/mp3_file_check.h"
#include "support/test_support.h"

#include <QTemporaryDir>
#include "recorder/print_qt.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <set>

namespace kirasol::recorder {
namespace {

TEST(RecordingNames, FromTitleCaption) {
  const struct {
    const char *caption, *name;
  } cases[] = {
      {"Title: 'Artist - Song'", "'Artist - Song'.mp3"},
      {"Title:", ".mp3"},  // before any title
      {"Title: 'Live: Part 2'", "'Live.mp3"},  // cut at a colon inside the title
      {"Title:    'x'", "'x'.mp3"},
      {"Title: Title not Available", "Title not Available.mp3"},
      {"no colon", ".mp3"},
  };
  for (const auto &c : cases) EXPECT_EQ(titleFileName(QString::fromUtf8(c.caption)), QString::fromUtf8(c.name));
}

TEST(RecordingNames, ProposedNameRoundsHalfToEven) {
  const struct {
    QTime time;
    const char *name;
  } cases[] = {{QTime(0, 0, 2, 500), "File2.mp3"}, {QTime(0, 0, 3, 500), "File4.mp3"},
               {QTime(1, 0, 0, 499), "File3600.mp3"}, {QTime(23, 59, 59, 999), "File86400.mp3"}};
  for (const auto &c : cases) EXPECT_EQ(proposedFileName(c.time), QString::fromUtf8(c.name));
}

TEST(RecordingNames, SafeNames) {
  const struct {
    QString in, out;
  } cases[] = {
      {"'AC/DC - T.N.T.'.mp3", "'AC_DC - T.N.T.'.mp3"},
      {"..\\..\\etc.mp3", ".._.._etc.mp3"},
      {"../up.mp3", ".._up.mp3"},
      {".", "_"},
      {"..", "__"},
      {QStringLiteral("a") + QChar(0) + QStringLiteral("b\tc\x7f.mp3"), "a_b_c_.mp3"},
      {"'ดนตรี: ไทย?*|<>\"'.mp3", "'ดนตรี: ไทย?*|<>\"'.mp3"},  // Linux holds these
  };
  for (const auto &c : cases) EXPECT_EQ(safeFileName(c.in), c.out) << c.in.toStdString();

  // A long title keeps its start and its extension and fits a file name.
  const QString longName = QString(300, QChar(0x0e01)) + QStringLiteral(".mp3");
  const QString shortened = safeFileName(longName);
  EXPECT_LE(numberedFileName(shortened, 9999).toUtf8().size(), 255);
  EXPECT_TRUE(shortened.endsWith(QStringLiteral(".mp3")));
  EXPECT_TRUE(shortened.startsWith(QString(10, QChar(0x0e01))));
}

TEST(RecordingNames, NumberedAndFolders) {
  EXPECT_EQ(numberedFileName(QStringLiteral("'A'.mp3"), 2), QStringLiteral("'A' (2).mp3"));
  EXPECT_EQ(numberedFileName(QStringLiteral("mix"), 3), QStringLiteral("mix (3)"));
  EXPECT_EQ(numberedFileName(QStringLiteral(".mp3"), 2), QStringLiteral(" (2).mp3"));
  EXPECT_EQ(outputFolder(QStringLiteral("/music")), QStringLiteral("/music/"));
  EXPECT_EQ(outputFolder(QStringLiteral("/music/")), QStringLiteral("/music/"));
  EXPECT_EQ(outputFolder(QStringLiteral("/music\\")), QStringLiteral("/music/"));
}

TEST(RecordingNames, DisplayTexts) {
  EXPECT_EQ(sizeText(1536000), QStringLiteral("Size: 1500 kb."));
  EXPECT_EQ(sizeText(1023), QStringLiteral("Size: 0 kb."));
  EXPECT_EQ(timeText(90), QStringLiteral("Time: 1:30"));
  EXPECT_EQ(timeText(65), QStringLiteral("Time: 1:05"));
  EXPECT_EQ(timeText(0), QStringLiteral("Time: 0:00"));
  EXPECT_EQ(timeText(3600 * 5 + 1), QStringLiteral("Time: 300:01"));
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  EXPECT_EQ(addSaturated(10, 5), 15);
  EXPECT_EQ(addSaturated(kMax - 1, 5), kMax);
}

TEST(RecordingFile, NeverOverwritesAndWritesThrough) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString folder = dir.path() + u'/';
  ASSERT_TRUE(test::writeFile(folder + "song.mp3", "OLD RECORDING"));

  RecordingFile file;
  const auto first = file.open(folder, QStringLiteral("song.mp3"));
  ASSERT_TRUE(first.ok) << first.error.toStdString();
  EXPECT_EQ(first.name, QStringLiteral("song (2).mp3"));
  ASSERT_TRUE(file.write("abc"));
  // Bytes reach the file before close: nothing waits in a user-space buffer.
  EXPECT_EQ(test::readFile(folder + "song (2).mp3"), QByteArray("abc"));

  RecordingFile other;
  const auto second = other.open(folder, QStringLiteral("song.mp3"));
  ASSERT_TRUE(second.ok);
  EXPECT_EQ(second.name, QStringLiteral("song (3).mp3"));
  file.close();
  other.close();
  EXPECT_EQ(test::readFile(folder + "song.mp3"), QByteArray("OLD RECORDING"));
  EXPECT_EQ(test::readFile(folder + "song (2).mp3"), QByteArray("abc"));
}

TEST(RecordingFile, RefusedOpensSayWhy) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  RecordingFile file;
  const auto missing = file.open(dir.path() + "/no such folder/", QStringLiteral("a.mp3"));
  EXPECT_FALSE(missing.ok);
  EXPECT_TRUE(missing.error.contains(QStringLiteral("no such folder"))) << missing.error.toStdString();
  EXPECT_FALSE(file.isOpen());
  EXPECT_FALSE(file.write("x"));

  const auto empty = file.open(QString(), QStringLiteral("a.mp3"));
  EXPECT_FALSE(empty.ok);

  const auto tooLong = file.open(dir.path() + u'/', QString(300, u'x'));
  EXPECT_FALSE(tooLong.ok);
  EXPECT_FALSE(tooLong.error.isEmpty());
}

// MPEG-1 layer III, 128 kbps, 44.1 kHz frames of 417 and 418 bytes (padding),
// with bodies that hold no sync byte.
QByteArray mp3Frames(int count, std::vector<qsizetype> &starts, qsizetype offset = 0) {
  QByteArray out;
  for (int i = 0; i < count; ++i) {
    starts.push_back(offset + out.size());
    const bool padded = i % 3 == 1;
    QByteArray frame(padded ? 418 : 417, char(0x11 + i % 7));
    frame[0] = char(0xFF);
    frame[1] = char(0xFB);
    frame[2] = char(padded ? 0x92 : 0x90);
    frame[3] = char(0x64);
    out += frame;
  }
  return out;
}

// Fed in pieces of any size, the tracker stops exactly at frame starts: every
// frame start it is in step for is a boundary and nothing between them is.
// Before it knows the stream is MP3, and once it has given up on it, every
// place is a boundary.
TEST(Mp3FrameTracker, BoundariesAreFrameStartsInPiecesOfAnySize) {
  struct Case {
    const char *what;
    QByteArray stream;
    std::set<qsizetype> allowed, required;
    qsizetype damageAt = -1;  // frames found again within a piece and two frames after it
  };
  std::vector<Case> cases;
  {
    std::vector<qsizetype> starts;
    Case c{"clean", mp3Frames(40, starts), {}, {}};
    c.allowed = c.required = {starts.begin(), starts.end()};
    cases.push_back(c);
  }
  {
    // Starts inside a frame: anywhere until two frames agree.
    std::vector<qsizetype> starts;
    const QByteArray junk(300, char(0x22));
    const QByteArray frames = mp3Frames(40, starts, junk.size());
    Case c{"joined mid-frame", junk + frames, {}, {}};
    for (qsizetype i = 0; i <= starts[1] + 4; ++i) c.allowed.insert(i);
    c.allowed.insert(starts.begin(), starts.end());
    c.required.insert(starts.begin() + 3, starts.end());
    cases.push_back(c);
  }
  {
    // A damaged header: no boundary until the frames are found again.
    std::vector<qsizetype> starts;
    Case c{"damaged", mp3Frames(40, starts), {}, {}};
    c.stream[starts[10]] = 0;  // where the frame before it ends is still a boundary
    c.allowed = c.required = {starts.begin(), starts.end()};
    c.damageAt = starts[10];
    cases.push_back(c);
  }
  {
    Case c{"not MP3", QByteArray(Mp3FrameTracker::kSearchLimit * 2, 'a'), {}, {}};
    for (qsizetype i = 0; i <= c.stream.size(); ++i) c.allowed.insert(i);
    c.required = c.allowed;
    for (qsizetype i = 1; i < 4; ++i) c.required.erase(i);  // read as the first header
    cases.push_back(c);
  }

  std::mt19937 rng(7);
  for (const Case &c : cases) {
    for (int maxPiece : {1, 5, 600, 5000}) {
      SCOPED_TRACE(std::string(c.what) + ", pieces up to " + std::to_string(maxPiece));
      Mp3FrameTracker tracker;
      std::set<qsizetype> found;
      qsizetype pos = 0;
      while (pos < c.stream.size()) {
        QByteArrayView piece = QByteArrayView(c.stream).sliced(pos, qMin<qsizetype>(c.stream.size() - pos,
                                                                    1 + rng() % maxPiece));
        while (!piece.isEmpty()) {
          if (tracker.atBoundary()) {
            found.insert(pos);
            EXPECT_EQ(tracker.feed(piece, true), 0);
            tracker.feed(piece.first(1));
            piece = piece.sliced(1);
            ++pos;
            continue;
          }
          const qsizetype n = tracker.feed(piece, true);
          ASSERT_GT(n, 0);
          piece = piece.sliced(n);
          pos += n;
        }
      }
      if (tracker.atBoundary()) found.insert(pos);
      found.erase(c.stream.size());  // the end is where the next frame would begin
      for (qsizetype at : found) EXPECT_TRUE(c.allowed.count(at)) << "boundary at " << at;
      for (qsizetype at : c.required) {
        if (c.damageAt >= 0 && at > c.damageAt && at <= c.damageAt + maxPiece + 3 * 418) continue;
        EXPECT_TRUE(found.count(at) || at == c.stream.size()) << "missed " << at;
      }
    }
  }
}

TEST(Mp3FrameTracker, KnowsHowFarIntoTheFrameItIs) {
  std::vector<qsizetype> starts;
  const QByteArray frames = mp3Frames(5, starts);
  Mp3FrameTracker tracker;
  for (qsizetype end : {starts[3] + 2, starts[3] + 100, starts[4]}) {
    tracker.reset();
    tracker.feed(QByteArrayView(frames).first(end));
    EXPECT_EQ(tracker.intoFrame(), end - (end == starts[4] ? starts[4] : starts[3]));
  }
  tracker.reset();
  tracker.feed("not a frame header at all");
  EXPECT_EQ(tracker.intoFrame(), -1);
}

// The tag as a reader sees it: UTF-8 text frames, whether the station sent
// the Thai title as UTF-8 or in its Windows-874 code page.
TEST(RecordingTag, SongAndShowTags) {
  const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7));
  const QString thai = QStringLiteral("เพลงรุ่งอรุณ");
  const struct {
    RecordingTag tag;
    const char *title, *artist;
  } cases[] = {
      {songTag(decodeText(("'Nok - " + thai + "'").toUtf8()), "FM", when), "", "Nok"},
      {songTag(decodeText("'Nok - " + encodeWindows874(thai) + "'"), "FM", when), "", "Nok"},
      {songTag(QStringLiteral("Just a title"), "FM", when), "Just a title", ""},
      {songTag(QStringLiteral("'A - B - C'"), "FM", when), "B - C", "A"},
      {showTag(QStringLiteral("Morning show.mp3"), "FM", when), "Morning show", "FM"},
      {showTag(QStringLiteral(".mp3"), "FM", when), "FM", "FM"},
  };
  for (const auto &c : cases) {
    const QByteArray bytes = id3v2Tag(c.tag);
    const test::Id3Text read = test::readId3(bytes);
    ASSERT_TRUE(read.present);
    EXPECT_EQ(read.version, 4);
    EXPECT_EQ(read.size, bytes.size());
    const QString title = *c.title ? QString::fromUtf8(c.title) : thai;
    EXPECT_EQ(read.frames.value("TIT2"), title);
    EXPECT_EQ(read.frames.value("TPE1"), QString::fromUtf8(c.artist));
    EXPECT_EQ(read.frames.value("TALB"), QStringLiteral("FM"));
    EXPECT_EQ(read.frames.value("TRSN"), QStringLiteral("FM"));
    EXPECT_EQ(read.frames.value("TDRC"), QStringLiteral("2026-03-04T05:06:07"));
    EXPECT_EQ(read.frames.contains("TPE1"), *c.artist != 0) << "no empty frames";
  }
  EXPECT_TRUE(id3v2Tag({}).isEmpty()) << "a tag without text is left out";
}

}  // namespace
}  // namespace kirasol::recorder
