// The audio engine's response-header helpers on arbitrary header lines, as
// the transfer library hands them over one by one (line ends included).
// Properties: line ends are removed and nothing else; lookups ignore ASCII
// case, skip the status line and return a trimmed piece of the matching line;
// the tag block a status listener walks as C strings stays inside the block
// and gives back the lines; status codes have three digits.

#include "fuzz/fuzz_input.h"
#include "http_headers.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace kirasol::audio;

std::string lowerAscii(std::string s) {
  for (char &c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string flipCase(std::string s, uint32_t pattern) {
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if ((pattern >> (i % 32)) & 1) s[i] = char(std::isupper(c) ? std::tolower(c) : std::toupper(c));
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  const uint32_t casePattern = fdp.ConsumeIntegral<uint32_t>();
  std::string name = fdp.ConsumeRandomLengthString(24);
  const std::string raw = fdp.ConsumeRemainingBytesAsString();

  // Raw lines as the transfer library delivers them: each with its LF.
  std::vector<std::string> lines;
  for (size_t start = 0; start < raw.size();) {
    const size_t lf = raw.find('\n', start);
    const size_t end = lf == std::string::npos ? raw.size() : lf + 1;
    const std::string_view piece(raw.data() + start, end - start);
    const std::string line = trimLineEnd(piece);
    FUZZ_CHECK(piece.starts_with(line), "only the line end is removed");
    for (char c : piece.substr(line.size())) FUZZ_CHECK(c == '\r' || c == '\n', "only CR and LF are removed");
    FUZZ_CHECK(line.empty() || (line.back() != '\r' && line.back() != '\n'), "no line end is left");
    if (!line.empty()) lines.push_back(line);  // an empty line ends the block
    start = end;
  }

  // Some runs look up a name that is present, to reach the match paths.
  if (!name.empty() && name.front() == '@' && lines.size() > 1) {
    const std::string &line = lines[1 + casePattern % (lines.size() - 1)];
    name = line.substr(0, line.find(':'));
  }

  const auto value = headerValue(lines, name);
  FUZZ_CHECK(value == headerValue(lines, flipCase(name, casePattern)), "lookups ignore ASCII case");
  FUZZ_CHECK(value == headerValue(lines, lowerAscii(name)), "lookups ignore ASCII case");
  const std::string key = lowerAscii(name) + ":";
  const std::string *first = nullptr;
  for (size_t i = 1; i < lines.size() && first == nullptr; ++i)
    if (lowerAscii(lines[i].substr(0, key.size())) == key) first = &lines[i];
  FUZZ_CHECK(value.has_value() == (first != nullptr), "found exactly when a header line has that name");
  if (value) {
    FUZZ_CHECK(first->find(*value, key.size()) != std::string::npos, "the value is a piece of the first such line");
    FUZZ_CHECK(value->empty() || (value->front() != ' ' && value->front() != '\t' && value->back() != ' ' &&
                                  value->back() != '\t'),
               "blanks around the value are removed");
  }

  if (!lines.empty()) {
    if (const auto code = statusCodeOf(lines.front())) {
      FUZZ_CHECK(*code >= 0 && *code <= 999, "three digits");
      const std::string digits = std::to_string(1000 + *code).substr(1);
      FUZZ_CHECK(lines.front().find(" " + digits) != std::string::npos, "the code is written after a space");
    }
    const HeaderKind kind = headerKindOf(lines.front());
    FUZZ_CHECK(kind != HeaderKind::Icy || lines.front().starts_with("ICY"), "ICY kind from an ICY line");
    FUZZ_CHECK(kind != HeaderKind::Http || lines.front().starts_with("HTTP/"), "HTTP kind from an HTTP line");
  }

  // A status listener walks the block as C strings until an empty one.
  const std::string block = tagBlock(lines);
  size_t expected = 1;
  bool anyNul = false;
  for (const auto &l : lines) {
    expected += l.size() + 1;
    anyNul = anyNul || l.find('\0') != std::string::npos;
  }
  FUZZ_CHECK(block.size() == expected, "each line and its NUL, then one more NUL");
  FUZZ_CHECK(block.back() == '\0' && (block.size() == 1 || block[block.size() - 2] == '\0'),
             "the block ends with an empty string");
  std::vector<std::string> walked;
  for (const char *p = block.c_str(); *p != '\0'; p += std::strlen(p) + 1) {
    FUZZ_CHECK(p < block.c_str() + block.size(), "the walk stays inside the block");
    walked.emplace_back(p);
  }
  if (!anyNul) FUZZ_CHECK(walked == lines, "the walk gives back the lines");
  return 0;
}
