// The audio engine's playlist reader on arbitrary bytes and base addresses.
// Properties: every entry is a non-empty http(s) address, taken from the
// document either whole or as the part after the base address's folder or
// host; no line end or surrounding blank slips in; .m3u entries keep the
// document's order; .pls entries are unique per FileN and come in N order.

#include "fuzz/fuzz_input.h"
#include "station_playlist.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace {

using kirasol::audio::parsePlaylist;

bool isWebAddress(const std::string &s) {
  std::string head = s.substr(0, 8);
  for (char &c : head) c = char(std::tolower(static_cast<unsigned char>(c)));
  return head.starts_with("http://") || head.starts_with("https://");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  static const char *const kBases[] = {"http://radio.example:8000/live/list.pls?x=1", "https://example.org",
                                       "http://example.org/a/b/", ""};
  const uint8_t pick = fdp.ConsumeIntegral<uint8_t>();
  std::string base = pick < 4 ? kBases[pick] : fdp.ConsumeRandomLengthString(64);
  // The base is the address the playlist was fetched from, a single line.
  std::replace_if(base.begin(), base.end(), [](char c) { return c == '\r' || c == '\n'; }, '_');
  const std::string body = fdp.ConsumeRemainingBytesAsString();

  const std::vector<std::string> entries = parsePlaylist(body, base);
  // A byte-order mark is not part of the document; markup is read as XSPF
  // (XML references decoded) or not at all, so only the other checks apply.
  const std::string text = body.starts_with("\xEF\xBB\xBF") ? body.substr(3) : body;
  const size_t first = text.find_first_not_of(" \t\r\n\f\v");
  const bool markup = first != std::string::npos && text[first] == '<';
  for (const std::string &e : entries) {
    FUZZ_CHECK(!e.empty() && isWebAddress(e), "entries are http(s) addresses");
    FUZZ_CHECK(e.find_first_of("\r\n") == std::string::npos, "no line end inside an entry");
    FUZZ_CHECK(!std::isspace(static_cast<unsigned char>(e.back())), "no trailing blank");
    if (!markup && body.find(e) == std::string::npos) {
      // A relative entry: some leading part of the base address, maybe a
      // slash, then a piece of the document.
      bool found = false;
      for (size_t k = 1; k <= std::min(e.size(), base.size()) && !found; ++k) {
        if (e.compare(0, k, base, 0, k) != 0) break;
        for (size_t skip : {size_t(0), size_t(1)}) {
          if (k + skip >= e.size() || (skip == 1 && e[k] != '/')) continue;
          const std::string tail = e.substr(k + skip);
          const size_t at = body.find(tail);
          if (at != std::string::npos) {
            found = true;
            break;
          }
        }
      }
      FUZZ_CHECK(found, "an entry is taken from the document");
    }
  }

  if (markup) return 0;
  // Split and trim the document's lines here too.
  std::vector<std::string> lines;
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.front()))) line.erase(0, 1);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  bool pls = false;
  for (const std::string &line : lines) {
    if (line.empty()) continue;
    std::string head = line.substr(0, 10);
    for (char &c : head) c = char(std::tolower(static_cast<unsigned char>(c)));
    pls = head == "[playlist]";
    break;
  }
  if (!pls) {
    // An .m3u that lists only full addresses gives exactly its http(s) lines,
    // in the order written.
    std::vector<std::string> expected;
    bool onlyFull = true;
    for (const std::string &line : lines) {
      if (line.empty() || line.front() == '#') continue;
      if (isWebAddress(line)) expected.push_back(line);
      else if (line.find("://") == std::string::npos) onlyFull = false;
    }
    if (onlyFull) FUZZ_CHECK(entries == expected, ".m3u entries are its address lines in order");
  } else {
    FUZZ_CHECK(entries.size() <= size_t(std::count(body.begin(), body.end(), '=')), "at most one entry per FileN= line");
  }
  return 0;
}
