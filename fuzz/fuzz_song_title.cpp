// The player's reading of what the audio library hands over: the station
// header block (zero-terminated lines), zero-terminated texts, and the song
// title cut out of a metadata text.

#include "fuzz/fuzz_input.h"
#include "player/playback/net_radio_rules.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>

using namespace kirasol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // As the library gives it: the bytes, then the terminators its tag blocks
  // end with.
  std::string block(reinterpret_cast<const char *>(data), size);
  block.append(2, '\0');

  const QString text = StringFromAnsiPtr(block.c_str());
  FUZZ_CHECK(text.size() <= qsizetype(std::strlen(block.c_str())), "no more characters than bytes before the zero");
  FUZZ_CHECK(!text.contains(QChar(0)), "the text stops at the first zero");

  const StationHeaders headers = parseStationHeaders(block.c_str());
  if (headers.name) FUZZ_CHECK(block.find("icy-name:") != std::string::npos, "a name needs its line");
  if (headers.bitRate) FUZZ_CHECK(block.find("icy-br:") != std::string::npos, "a bit rate needs its line");

  const std::optional<QString> title = songTitleFromMeta(text);
  FUZZ_CHECK(title.has_value() == text.startsWith(QStringLiteral("StreamTitle='")), "a title only from a title block");
  if (title) {
    FUZZ_CHECK(text.mid(13).startsWith(*title), "the title is the start of the value");
    FUZZ_CHECK(!title->contains(u';'), "the title ends before the first ';'");
  }
  return 0;
}
