#include "icy_framer.h"

#include <gtest/gtest.h>

#include <QString>

using kirasol::station::IcyStreamFramer;
using kirasol::station::StreamTrack;
using kirasol::station::TrackList;

namespace {

TrackList makeTracks(const std::vector<std::pair<QString, int>> &spec) {
  auto tracks = std::make_shared<std::vector<StreamTrack>>();
  char fill = 'a';
  for (const auto &[title, size] : spec) {
    QByteArray bytes;
    for (int i = 0; i < size; ++i) bytes += char(fill + i % 7);  // distinct per track and position
    tracks->push_back({title + QStringLiteral(".mp3"), title, 0, bytes});
    fill = char(fill + 7);
  }
  return tracks;
}

struct Block {
  qint64 audioOffset;  // audio bytes before the block
  QByteArray text;     // the block's text without padding; empty for a zero block
};

// An independent reader of the framed stream: audio runs of `metaInt` bytes,
// each followed by a length byte and length × 16 bytes of metadata.
bool splitStream(const QByteArray &stream, int metaInt, QByteArray &audio, std::vector<Block> &blocks) {
  qsizetype at = 0;
  while (at < stream.size()) {
    const qsizetype run = std::min<qsizetype>(metaInt, stream.size() - at);
    audio += stream.mid(at, run);
    at += run;
    if (at == stream.size()) break;
    const int units = static_cast<unsigned char>(stream[at++]);
    if (at + units * 16 > stream.size()) return false;
    QByteArray text = stream.mid(at, units * 16);
    const qsizetype nul = text.indexOf('\0');
    if (units > 0 && nul >= 0) {
      // Padding must be zeros only, and less than one 16-byte unit.
      if (text.mid(nul).count('\0') != text.size() - nul || text.size() - nul > 16) return false;
      text.truncate(nul);
    }
    blocks.push_back({qint64(audio.size()), text});
    at += units * 16;
  }
  return true;
}

QByteArray expectedBlock(const QString &title) {
  return "StreamTitle='" + title.toUtf8() + "';StreamUrl='';";
}

}  // namespace

TEST(IcyStreamFramer, FramesLoopedTracksForEveryMetaintAndChunkSize) {
  const TrackList tracks = makeTracks({{QStringLiteral("Artist - One"), 50},
                                       {QStringLiteral("ศิลปิน - สอง"), 23},
                                       {QStringLiteral("Artist - Three"), 1}});
  QByteArray loop;
  std::vector<int> trackOf;  // track index of each audio byte within one loop
  for (std::size_t t = 0; t < tracks->size(); ++t) {
    loop += (*tracks)[t].bytes;
    trackOf.insert(trackOf.end(), (*tracks)[t].bytes.size(), int(t));
  }
  const qint64 total = 3 * loop.size() + 11;  // several loops, ending mid-track

  for (int metaInt : {1, 7, 16, 50, 73, 8192}) {
    for (qint64 chunk : {qint64(1), qint64(3), qint64(64), total}) {
      for (bool repeat : {false, true}) {
        SCOPED_TRACE(testing::Message() << "metaint " << metaInt << " chunk " << chunk << " repeat " << repeat);
        IcyStreamFramer framer(tracks, metaInt, repeat, true);
        QByteArray stream;
        qint64 produced = 0;
        while (produced < total) {
          const qint64 n = framer.produce(std::min(chunk, total - produced), stream);
          ASSERT_GT(n, 0);
          produced += n;
        }
        QByteArray audio;
        std::vector<Block> blocks;
        ASSERT_TRUE(splitStream(stream, metaInt, audio, blocks));
        ASSERT_EQ(audio.size(), total);
        for (qint64 i = 0; i < total; ++i) ASSERT_EQ(audio[i], loop[i % loop.size()]) << "audio byte " << i;

        // A block sits after each full run except a run that ends the stream
        // (it is written only together with the next audio byte).
        ASSERT_EQ(qint64(blocks.size()), (total - 1) / metaInt);
        QString announced;
        bool any = false;
        for (const Block &b : blocks) {
          ASSERT_EQ(b.audioOffset % metaInt, 0);
          const QString &title = (*tracks)[trackOf[b.audioOffset % loop.size()]].title;
          if (!any || title != announced || repeat) {
            EXPECT_EQ(b.text, expectedBlock(title)) << "at audio byte " << b.audioOffset;
            announced = title;
            any = true;
          } else {
            EXPECT_TRUE(b.text.isEmpty()) << "at audio byte " << b.audioOffset;
          }
        }
      }
    }
  }
}

TEST(IcyStreamFramer, WithoutMetadataTheStreamIsTheTracksAlone) {
  const TrackList tracks = makeTracks({{QStringLiteral("A - 1"), 40}, {QStringLiteral("B - 2"), 30}});
  IcyStreamFramer framer(tracks, 0, false, true);
  QByteArray out;
  EXPECT_EQ(framer.produce(140, out), 140);
  const QByteArray loop = (*tracks)[0].bytes + (*tracks)[1].bytes;
  EXPECT_EQ(out, loop + loop);
}

TEST(IcyStreamFramer, OncePlaysEachTrackOnceAndEndsWithoutATrailingBlock) {
  const TrackList tracks = makeTracks({{QStringLiteral("A - 1"), 32}, {QStringLiteral("B - 2"), 32}});
  IcyStreamFramer framer(tracks, 16, false, false);
  QByteArray out;
  EXPECT_EQ(framer.produce(1000, out), 64);
  EXPECT_TRUE(framer.finished());
  EXPECT_EQ(framer.produce(1000, out), 0);
  QByteArray audio;
  std::vector<Block> blocks;
  ASSERT_TRUE(splitStream(out, 16, audio, blocks));
  EXPECT_EQ(audio, (*tracks)[0].bytes + (*tracks)[1].bytes);
  ASSERT_EQ(blocks.size(), 3u);  // after 16 (title 1), 32 (title 2), 48 (zero); none after 64
  EXPECT_EQ(blocks[0].text, expectedBlock(QStringLiteral("A - 1")));
  EXPECT_EQ(blocks[1].text, expectedBlock(QStringLiteral("B - 2")));
  EXPECT_TRUE(blocks[2].text.isEmpty());
}

TEST(IcyStreamFramer, TitleBlockIsPaddedAndLongTitlesAreCutWhole) {
  struct Case {
    QString title;
    int expectedUnits;
  };
  const QString thai = QStringLiteral("เพลง");  // 12 UTF-8 bytes
  const std::vector<Case> cases = {
      {QString(), 2},                             // 28 bytes of frame text
      {QStringLiteral("abcd"), 2},                // 32: exactly two units, no padding
      {QStringLiteral("abcde"), 3},               // 33
      {thai.repeated(400), 255},                  // far too long: cut to the limit
      {QStringLiteral("x") + thai.repeated(400), 255},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(qPrintable(c.title.left(10)));
    const QByteArray block = IcyStreamFramer::titleBlock(c.title);
    const int units = static_cast<unsigned char>(block[0]);
    EXPECT_EQ(units, c.expectedUnits);
    ASSERT_EQ(block.size(), 1 + units * 16);
    QByteArray text = block.mid(1);
    while (text.endsWith('\0')) text.chop(1);
    EXPECT_GT(text.size(), (units - 1) * 16);
    EXPECT_TRUE(text.startsWith("StreamTitle='"));
    EXPECT_TRUE(text.endsWith("';StreamUrl='';"));
    // The cut never leaves a broken UTF-8 sequence, and keeps a prefix of the title.
    const QString title = QString::fromUtf8(text.mid(13, text.size() - 13 - 15));
    EXPECT_FALSE(title.contains(QChar::ReplacementCharacter));
    EXPECT_TRUE(title.isEmpty() ? c.title.isEmpty() : c.title.startsWith(title));
  }
}

TEST(IcyStreamFramer, SameTitleOnConsecutiveTracksIsNotAnnouncedAgain) {
  const TrackList tracks = makeTracks({{QStringLiteral("Same - Song"), 10}, {QStringLiteral("Same - Song"), 10}});
  IcyStreamFramer framer(tracks, 5, false, true);
  QByteArray out;
  framer.produce(40, out);
  QByteArray audio;
  std::vector<Block> blocks;
  ASSERT_TRUE(splitStream(out, 5, audio, blocks));
  ASSERT_EQ(blocks.size(), 7u);
  EXPECT_FALSE(blocks[0].text.isEmpty());
  for (std::size_t i = 1; i < blocks.size(); ++i) EXPECT_TRUE(blocks[i].text.isEmpty()) << i;
}
