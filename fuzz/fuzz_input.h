#pragma once
// Shared pieces of the fuzz targets: a check that stops the run with a
// message (the fuzzer keeps the input as a crash artifact), and the
// application object some Qt classes expect.

#include <QCoreApplication>
#include <QString>

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, what)                                                          \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "fuzz check failed at %s:%d: %s (%s)\n", __FILE__, __LINE__, what, \
                   #condition);                                                              \
      std::abort();                                                                          \
    }                                                                                        \
  } while (0)

namespace kirasol::fuzz {

// One QCoreApplication for the whole run (file and directory classes want
// one for their paths and codecs).
inline void ensureApplication() {
  if (QCoreApplication::instance() != nullptr) return;
  static int argc = 1;
  static char name[] = "kirasol-fuzz";
  static char *argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
}

}  // namespace kirasol::fuzz
