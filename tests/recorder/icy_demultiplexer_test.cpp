#include "player/recorder/icy_demultiplexer.h"
#include "player/recorder/station_protocol.h"
#include "recorder/icy_stream_builder.h"

#include "recorder/print_qt.h"

#include <gtest/gtest.h>

#include <random>

namespace kirasol::recorder {
namespace {

struct Recorder final : DemuxSink {
  std::vector<QByteArray> pieces;
  std::vector<QByteArray> blocks;
  void WriteOutFile(QByteArrayView b) override { pieces.push_back(b.toByteArray()); }
  void ShowTitle(QByteArrayView m) override { blocks.push_back(m.toByteArray()); }
  QByteArray audio() const {
    QByteArray all;
    for (const auto &p : pieces) all += p;
    return all;
  }
};

// What must hold between any two steps.
void checkInvariants(const RecorderState &s) {
  if (s.lMetaInt > 0) {
    ASSERT_GE(s.lAudioCount, 0);
    ASSERT_LT(s.lAudioCount, s.lMetaInt);
  } else {
    ASSERT_EQ(s.lAudioCount, 0);
  }
  ASSERT_EQ(s.lMetaLength % 16, 0);
  ASSERT_LE(s.lMetaLength, 4080);
  if (!s.bInMetadata) {
    ASSERT_EQ(s.lMetaLength, 0);
    ASSERT_TRUE(s.sMetaBuffer.isEmpty());
  } else {
    ASSERT_EQ(s.lAudioCount, 0);
    ASSERT_LT(s.sMetaBuffer.size(), qMax(s.lMetaLength, 1));
  }
}

// The station handler's loop: one step at a time until the chunk is used up.
void feed(IcyDemultiplexer &demux, RecorderState &state, QByteArrayView chunk) {
  while (!chunk.isEmpty()) {
    const QByteArrayView rest = demux.ProcessBuffer(chunk, state.bInMetadata);
    ASSERT_LT(rest.size(), chunk.size()) << "a step must consume something";
    if (!rest.isEmpty()) {
      ASSERT_EQ(rest.data() + rest.size(), chunk.data() + chunk.size()) << "the rest is the chunk's tail";
    }
    chunk = rest;
    checkInvariants(state);
  }
}

QByteArray block(const QByteArray &text) { return test::metadataBlock(text); }

TEST(IcyDemultiplexer, EdgeCases) {
  const QByteArray meta = block("StreamTitle='Artist - Song';StreamUrl='x';");
  const QByteArray metaText = meta.mid(1);
  const struct Case {
    const char *name;
    int metaInt;
    int audioCount;   // where in the run the first chunk starts
    bool inMetadata;
    std::vector<QByteArray> chunks;
    std::vector<QByteArray> pieces;  // expected WriteOutFile calls
    std::vector<QByteArray> blocks;  // expected ShowTitle calls
    bool endInMetadata;
    int endAudioCount;
  } cases[] = {
      {"end of run, empty block, start of next run", 8, 5, false,
       {"abc" + QByteArray(1, '\0') + "de"}, {"abc", "de"}, {}, false, 2},
      {"chunk ends exactly at the end of a run", 8, 0, false, {"abcdefgh"}, {"abcdefgh"}, {}, true, 0},
      {"next chunk starts with the length byte", 8, 0, false, {"abcdefgh", meta + "ij"},
       {"abcdefgh", "ij"}, {metaText}, false, 2},
      {"block whole in one read", 4, 0, true, {meta + "wxyz" + meta}, {"wxyz"}, {metaText, metaText}, false, 0},
      {"block in two reads", 4, 0, true, {meta.left(20), meta.mid(20) + "wx"}, {"wx"}, {metaText}, false, 2},
      {"read holding only the length byte", 4, 0, true, {meta.left(1), meta.mid(1) + "wx"}, {"wx"}, {metaText},
       false, 2},
      {"block in many reads", 4, 0, true,
       {meta.left(1), meta.mid(1, 1), meta.mid(2, 15), meta.mid(17, 16), meta.mid(33), "wxyz"},
       {"wxyz"},
       {metaText},
       true,
       0},
      {"audio run split byte by byte", 3, 0, false, {"a", "b", "c", QByteArray(1, '\0')}, {"a", "b", "c"}, {},
       false, 0},
      {"chunk larger than whole runs", 2, 0, false,
       {"ab" + QByteArray(1, '\0') + "cd" + meta + "ef" + QByteArray(1, '\0') + "g"},
       {"ab", "cd", "ef", "g"},
       {metaText},
       false,
       1},
      {"no metadata in the stream", 0, 0, false, {"abc", QByteArray(3, '\0')}, {"abc", QByteArray(3, '\0')}, {},
       false, 0},
      {"largest block (255 x 16 bytes)", 1, 0, false,
       {"a" + block(QByteArray(4080, 'x')) + "b"},
       {"a", "b"},
       {QByteArray(4080, 'x')},
       true,
       0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RecorderState state;
    state.lMetaInt = c.metaInt;
    state.lAudioCount = c.audioCount;
    state.bInMetadata = c.inMetadata;
    Recorder sink;
    IcyDemultiplexer demux(state, sink);
    for (const QByteArray &chunk : c.chunks) feed(demux, state, chunk);
    EXPECT_EQ(sink.pieces, c.pieces);
    EXPECT_EQ(sink.blocks, c.blocks);
    EXPECT_EQ(state.bInMetadata, c.endInMetadata);
    EXPECT_EQ(state.lAudioCount, c.endAudioCount);
  }
}

TEST(IcyDemultiplexer, EachStepConsumesOneRunOrOneBlock) {
  RecorderState state;
  state.lMetaInt = 4;
  Recorder sink;
  IcyDemultiplexer demux(state, sink);
  const QByteArray chunk = "abcd" + block("StreamTitle='T';") + "efgh";
  QByteArrayView rest = demux.ProcessBuffer(chunk, state.bInMetadata);
  EXPECT_EQ(rest, QByteArrayView(chunk).sliced(4));
  EXPECT_TRUE(state.bInMetadata);
  rest = demux.ProcessBuffer(rest, state.bInMetadata);
  EXPECT_EQ(rest, QByteArrayView("efgh"));
  EXPECT_FALSE(state.bInMetadata);
  EXPECT_EQ(titleText(sink.blocks.at(0)), QStringLiteral("Title: 'T'"));
}

// Any cutting of a stream into reads gives the same audio and the same blocks.
TEST(IcyDemultiplexer, SeededChunkingsAgree) {
  constexpr int kChunkings = 1200;
  for (int seed = 1; seed <= kChunkings; ++seed) {
    std::mt19937 rng(seed);
    const int metaInt = std::uniform_int_distribution<int>(1, 600)(rng);
    const test::IcyStream stream = test::buildIcyStream(rng, metaInt, 12);

    // Cut points: random sizes from single bytes to more than a whole run, and
    // now and then a read holding just a length byte.
    std::vector<QByteArrayView> reads;
    std::uniform_int_distribution<int> style(0, 9);
    qsizetype pos = 0;
    std::size_t nextLength = 0;
    while (pos < stream.wire.size()) {
      while (nextLength < stream.lengthBytes.size() && stream.lengthBytes[nextLength] < pos) ++nextLength;
      qsizetype size = 1;
      const int st = style(rng);
      if (st == 0 && nextLength < stream.lengthBytes.size()) {
        const qsizetype at = stream.lengthBytes[nextLength];
        size = at > pos ? at - pos : 1;  // up to the length byte, then the byte alone
      } else if (st <= 3) {
        size = std::uniform_int_distribution<qsizetype>(1, 17)(rng);
      } else if (st <= 7) {
        size = std::uniform_int_distribution<qsizetype>(1, 2 * metaInt)(rng);
      } else {
        size = std::uniform_int_distribution<qsizetype>(metaInt, 5 * (metaInt + 300))(rng);
      }
      size = qMin(size, stream.wire.size() - pos);
      reads.push_back(QByteArrayView(stream.wire).sliced(pos, size));
      pos += size;
    }

    RecorderState state;
    state.lMetaInt = metaInt;
    Recorder sink;
    IcyDemultiplexer demux(state, sink);
    for (const QByteArrayView read : reads) {
      feed(demux, state, read);
      if (HasFatalFailure()) return;
    }
    ASSERT_EQ(sink.audio(), stream.audio) << "seed " << seed;
    ASSERT_EQ(sink.blocks, stream.blocks) << "seed " << seed;
    // One write per audio piece: at most one per run per read.
    ASSERT_LE(sink.pieces.size(), reads.size() + 12) << "seed " << seed;
    ASSERT_FALSE(state.bInMetadata);
    ASSERT_EQ(state.lAudioCount, 0);
  }
}

}  // namespace
}  // namespace kirasol::recorder
