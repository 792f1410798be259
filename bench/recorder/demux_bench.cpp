// Demultiplexing throughput: a 100 MB ICY stream cut into reads of 1 to 16 KiB,
// as a station connection delivers it. The sink only counts, so the figure is
// the demultiplexer's own cost.

#include "player/recorder/icy_demultiplexer.h"
#include "recorder/icy_stream_builder.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <random>

namespace {

using kirasol::recorder::DemuxSink;
using kirasol::recorder::IcyDemultiplexer;
using kirasol::recorder::RecorderState;

// Counts, and with `copy` also moves every audio byte once (as a write to a
// file or socket would), so that the figure includes touching the data.
struct CountingSink final : DemuxSink {
  bool copy = false;
  qint64 audio = 0;
  qint64 blocks = 0;
  char scratch[16 * 1024];
  void WriteOutFile(QByteArrayView b) override {
    audio += b.size();
    if (copy) {
      std::memcpy(scratch, b.data(), std::size_t(b.size()));
      benchmark::ClobberMemory();
    }
  }
  void ShowTitle(QByteArrayView) override { ++blocks; }
};

struct Workload {
  kirasol::test::IcyStream stream;
  std::vector<qsizetype> readSizes;
};

const Workload &workload(int metaInt) {
  static std::map<int, Workload> cache;
  Workload &w = cache[metaInt];
  if (w.stream.wire.isEmpty()) {
    std::mt19937 rng(42);
    const int runs = int(100'000'000LL / (metaInt + 40));
    w.stream = kirasol::test::buildIcyStream(rng, metaInt, runs, 60);
    std::uniform_int_distribution<qsizetype> size(1024, 16 * 1024);
    for (qsizetype pos = 0; pos < w.stream.wire.size();) {
      const qsizetype n = qMin(size(rng), w.stream.wire.size() - pos);
      w.readSizes.push_back(n);
      pos += n;
    }
  }
  return w;
}

void BM_Demultiplex(benchmark::State &st) {
  const Workload &w = workload(int(st.range(0)));
  const bool copy = st.range(1) != 0;
  for (auto _ : st) {
    RecorderState state;
    state.lMetaInt = w.stream.metaInt;
    CountingSink sink;
    sink.copy = copy;
    IcyDemultiplexer demux(state, sink);
    const char *p = w.stream.wire.constData();
    for (const qsizetype n : w.readSizes) {
      QByteArrayView chunk(p, n);
      while (!chunk.isEmpty()) chunk = demux.ProcessBuffer(chunk, state.bInMetadata);
      p += n;
    }
    if (sink.audio != w.stream.audio.size()) st.SkipWithError("audio lost");
    benchmark::DoNotOptimize(sink.blocks);
  }
  st.SetBytesProcessed(st.iterations() * w.stream.wire.size());
}
// Common station values: 8192 (Shoutcast), 16000 (Icecast); 512 as a stress.
// Second argument: 0 = count only, 1 = copy every audio byte.
BENCHMARK(BM_Demultiplex)
    ->ArgNames({"metaint", "copy"})
    ->ArgsProduct({{512, 8192, 16000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
