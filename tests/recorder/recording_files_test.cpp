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

// Fed in pieces of any size, the tracker stops exactly at frame starts. A
// stream not known to be MP3 (no frame confirmed yet, or none at all) has a
// boundary everywhere; after a damaged header none comes until the frames
// are found again. Frames: MPEG-1 layer III 128 kbps 44.1 kHz, 417 bytes or
// 418 padded, bodies without sync bytes.
TEST(Mp3FrameTracker, BoundariesAreFrameStartsInPiecesOfAnySize) {
  QByteArray frames;
  std::set<qsizetype> starts;
  for (int i = 0; i < 40; ++i) {
    starts.insert(frames.size());
    frames += QByteArray::fromHex(i % 3 == 1 ? "fffb9264" : "fffb9064") + QByteArray(i % 3 == 1 ? 414 : 413, 'x');
  }
  const qsizetype f1 = 417, f10 = *std::next(starts.begin(), 10), junk = 300;
  QByteArray damaged = frames;
  damaged[f10] = 0;  // the frame before it still ends there: a boundary
  const struct {
    const char *what;
    QByteArray stream;
    qsizetype offset, anywhereBefore, unsureFrom, unsureTo;  // boundaries in [from, to + piece) may be missed
  } cases[] = {
      {"clean", frames, 0, 0, 0, 0},
      {"joined mid-frame", QByteArray(junk, 'j') + frames, junk, junk + f1 + 5, 1, junk + 3 * 418},
      {"damaged", damaged, 0, 0, f10 + 1, f10 + 3 * 418},
      {"not MP3", QByteArray(Mp3FrameTracker::kSearchLimit * 2, 'a'), 0, 1 << 30, 1, 4},
  };
  std::mt19937 rng(7);
  for (const auto &c : cases) {
    for (int maxPiece : {1, 5, 600, 5000}) {
      SCOPED_TRACE(std::string(c.what) + ", pieces up to " + std::to_string(maxPiece));
      Mp3FrameTracker tracker;
      std::set<qsizetype> found;
      for (qsizetype pos = 0; pos < c.stream.size();) {
        QByteArrayView piece = QByteArrayView(c.stream).sliced(pos);
        piece = piece.first(qMin<qsizetype>(piece.size(), 1 + rng() % maxPiece));
        while (!piece.isEmpty()) {
          const bool boundary = tracker.atBoundary();
          if (boundary) found.insert(pos);
          const qsizetype n = boundary ? tracker.feed(piece.first(1)) : tracker.feed(piece, true);
          ASSERT_TRUE(n > 0 && (boundary || n == piece.size() || tracker.atBoundary())) << "at " << pos + n;
          piece = piece.sliced(n);
          pos += n;
        }
      }
      const qsizetype unsureTo = c.unsureTo > 4 ? c.unsureTo + maxPiece : c.unsureTo;
      for (qsizetype at = 0; at < c.stream.size(); ++at) {
        const bool allowed = at < c.anywhereBefore || (at >= c.offset && starts.count(at - c.offset));
        const bool required = allowed && !(at >= c.unsureFrom && at < unsureTo);
        if (found.count(at) ? !allowed : required) ADD_FAILURE() << (allowed ? "missed " : "boundary at ") << at;
      }
    }
  }
}

// The tag holds UTF-8 text whether the station sent its Thai title as UTF-8
// or in the Windows-874 code page.
TEST(RecordingTag, ThaiFromEitherEncoding) {
  const QString thai = QStringLiteral("เพลงรุ่งอรุณ");
  for (const QByteArray &sent : {("'Nok - " + thai + "'").toUtf8(), "'Nok - " + encodeWindows874(thai) + "'"}) {
    const test::Id3Text read = test::readId3(id3v2Tag(songTag(decodeText(sent), QStringLiteral("FM"), {})));
    EXPECT_EQ(read.version, 4);
    EXPECT_EQ(read.frames.value("TIT2"), thai);
    EXPECT_EQ(read.frames.value("TPE1"), QStringLiteral("Nok"));
  }
}

}  // namespace
}  // namespace kirasol::recorder
