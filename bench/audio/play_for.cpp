// Plays one URL through the engine for a given time on the default output,
// asking for the spectrum 40 times a second as the player's display does.
// Prints its resident memory once a second on stderr ("rss KiB"), so a
// measuring script can see whether it stays flat.
//
//   bench_audio_play URL SECONDS [DEVICE [FFT_PER_SECOND]]
//
// DEVICE -1 (default) is the sound server, 0 the engine's "no sound" device;
// FFT_PER_SECOND defaults to 40. Both exist to see where the time goes.

#include "bass.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

long residentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3 || argc > 5) {
    std::fprintf(stderr, "usage: %s URL SECONDS [DEVICE [FFT_PER_SECOND]]\n", argv[0]);
    return 2;
  }
  const double seconds = std::atof(argv[2]);
  const int device = argc > 3 ? std::atoi(argv[3]) : -1;
  const int fftPerSecond = argc > 4 ? std::atoi(argv[4]) : 40;
  if (!BASS_Init(device, 44100, 0, nullptr, nullptr)) {
    std::fprintf(stderr, "BASS_Init failed: %d\n", BASS_ErrorGetCode());
    return 1;
  }
  BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
  BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
  const HSTREAM h = BASS_StreamCreateURL(argv[1], 0, BASS_STREAM_BLOCK | BASS_STREAM_STATUS | BASS_STREAM_AUTOFREE,
                                         nullptr, nullptr);
  if (!h || !BASS_ChannelPlay(h, FALSE)) {
    std::fprintf(stderr, "cannot play %s: %d\n", argv[1], BASS_ErrorGetCode());
    BASS_Free();
    return 1;
  }
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  auto nextReport = start;
  float bins[1024];
  int frames = 0;
  const auto tick = std::chrono::milliseconds(fftPerSecond > 0 ? 1000 / fftPerSecond : 25);
  while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
    if (fftPerSecond > 0) BASS_ChannelGetData(h, bins, BASS_DATA_FFT2048);
    ++frames;
    if (Clock::now() >= nextReport) {
      std::fprintf(stderr, "rss %ld cpu %.2f\n", residentKiB(), double(BASS_GetCPU()));
      nextReport += std::chrono::seconds(1);
    }
    std::this_thread::sleep_until(start + tick * frames);
  }
  BASS_Free();
  return 0;
}
