// The least a program pays on this machine to wake a given number of times a
// second and do nothing else: the floor under any player whose spectrum
// moves that often. Measured by bench/player/floor.py.
//
//   bench_wakeup_floor c|qt PER_SECOND SECONDS
//
// c:  a plain loop that sleeps to each tick (absolute deadlines, no drift).
// qt: a shown Qt window whose only work is an empty QTimer at that rate, of
//     the kind the spectrum uses: the cost of Qt's event loop and display
//     connection, with nothing painted.

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

int main(int argc, char **argv) {
  if (argc != 4 || (std::strcmp(argv[1], "c") != 0 && std::strcmp(argv[1], "qt") != 0)) {
    std::fprintf(stderr, "usage: %s c|qt PER_SECOND SECONDS\n", argv[0]);
    return 2;
  }
  const int perSecond = std::atoi(argv[2]);
  const double seconds = std::atof(argv[3]);
  if (perSecond <= 0 || perSecond > 1000 || !(seconds > 0)) {
    std::fprintf(stderr, "PER_SECOND must be 1-1000 and SECONDS positive\n");
    return 2;
  }
  const auto tick = std::chrono::microseconds(1000000 / perSecond);
  if (argv[1][0] == 'c') {
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    for (auto next = start + tick; next < end; next += tick) std::this_thread::sleep_until(next);
    return 0;
  }
  QApplication app(argc, argv);
  QWidget window;
  window.resize(275, 116);
  window.show();
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, &app, [] {});
  timer.start(std::chrono::duration_cast<std::chrono::milliseconds>(tick));
  QTimer::singleShot(std::chrono::milliseconds(std::llround(seconds * 1000)), &app, &QApplication::quit);
  return app.exec();
}
