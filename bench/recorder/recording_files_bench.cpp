// Opening recording files under one name again and again, as file-per-song
// recording does when a station keeps announcing the same title: the time per
// file must not grow with the number of files already in the folder.

#include "player/recorder/recording_files.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

using kirasol::recorder::RecordingFile;

// range(1) = 1: every file under its own name, the file system's own cost
// for a folder of that many files, to compare with.
void BM_SameNameFiles(benchmark::State &st) {
  const int files = int(st.range(0));
  const bool distinct = st.range(1) != 0;
  for (auto _ : st) {
    st.PauseTiming();
    QTemporaryDir dir;
    RecordingFile file;
    st.ResumeTiming();
    for (int i = 0; i < files; ++i) {
      const QString name = distinct ? QStringLiteral("Artist - Title %1.mp3").arg(i) : QStringLiteral("Artist - Title.mp3");
      if (!file.open(dir.path() + u'/', name).ok) st.SkipWithError("open failed");
      file.close();
    }
    st.PauseTiming();
    dir.remove();
    st.ResumeTiming();
  }
  st.SetItemsProcessed(st.iterations() * files);
}
BENCHMARK(BM_SameNameFiles)
    ->ArgNames({"files", "distinct"})
    ->ArgsProduct({{100, 1000, 3000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
