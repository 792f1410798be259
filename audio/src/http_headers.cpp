#include "http_headers.h"

#include <cctype>

namespace kirasol::audio {
namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

HeaderKind headerKindOf(std::string_view statusLine) {
  if (statusLine.starts_with("ICY")) return HeaderKind::Icy;
  if (statusLine.starts_with("HTTP/")) return HeaderKind::Http;
  return HeaderKind::None;
}

std::optional<int> statusCodeOf(std::string_view statusLine) {
  const auto space = statusLine.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  int code = 0;
  size_t digits = 0;
  for (size_t i = space + 1; i < statusLine.size() && std::isdigit(static_cast<unsigned char>(statusLine[i])); ++i) {
    code = code * 10 + (statusLine[i] - '0');
    if (++digits > 3) return std::nullopt;
  }
  if (digits != 3) return std::nullopt;
  return code;
}

std::string tagBlock(const std::vector<std::string> &lines) {
  std::string block;
  for (const auto &line : lines) {
    block += line;
    block += '\0';
  }
  block += '\0';
  return block;
}

std::optional<std::string> headerValue(const std::vector<std::string> &lines, std::string_view name) {
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.size() > name.size() && line[name.size()] == ':' && startsWithNoCase(line, name))
      return std::string(trimBlanks(line.substr(name.size() + 1)));
  }
  return std::nullopt;
}

std::string trimLineEnd(std::string_view raw) {
  while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) raw.remove_suffix(1);
  return std::string(raw);
}

}  // namespace kirasol::audio
