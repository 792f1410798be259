#include "station_playlist.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <utility>

namespace kirasol::audio {
namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> splitLines(std::string_view body) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start <= body.size()) {
    const size_t end = body.find_first_of("\r\n", start);
    lines.push_back(body.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return lines;
}

bool isWebAddress(std::string_view s) {
  const std::string l = lower(s.substr(0, 8));
  return l.starts_with("http://") || l.starts_with("https://");
}

std::string resolve(std::string_view entry, std::string_view baseUrl) {
  // An empty entry names nothing; resolving it would give the base's folder.
  if (entry.empty()) return {};
  if (isWebAddress(entry)) return std::string(entry);
  if (entry.find("://") != std::string_view::npos) return {};
  const auto schemeEnd = baseUrl.find("://");
  if (schemeEnd == std::string_view::npos) return {};
  if (!entry.empty() && entry.front() == '/') {
    const auto pathStart = baseUrl.find('/', schemeEnd + 3);
    return std::string(baseUrl.substr(0, pathStart)) + std::string(entry);
  }
  const auto query = baseUrl.find_first_of("?#");
  std::string_view base = baseUrl.substr(0, query);
  const auto lastSlash = base.rfind('/');
  if (lastSlash == std::string_view::npos || lastSlash < schemeEnd + 3) return std::string(base) + "/" + std::string(entry);
  return std::string(base.substr(0, lastSlash + 1)) + std::string(entry);
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view withoutBom(std::string_view s) {
  if (s.starts_with(kUtf8Bom)) s.remove_prefix(kUtf8Bom.size());
  return s;
}

bool isXspf(std::string_view body) {
  const std::string head = lower(trim(body).substr(0, 512));
  return head.starts_with("<playlist") || (head.starts_with("<?xml") && head.find("<playlist") != std::string::npos);
}

// The five predefined entities and numeric references (ASCII only: an
// address holds nothing else). Anything else stays as it is.
std::string decodeXmlText(std::string_view s) {
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  for (size_t i = 0; i < s.size();) {
    bool replaced = false;
    if (s[i] == '&') {
      for (const auto &[entity, c] : kNamed) {
        if (s.substr(i, entity.size()) == entity) {
          out += c;
          i += entity.size();
          replaced = true;
          break;
        }
      }
      const size_t semi = s.find(';', i);
      if (!replaced && s.substr(i, 2) == "&#" && semi != std::string_view::npos && semi - i <= 8) {
        const bool hex = i + 2 < s.size() && (s[i + 2] == 'x' || s[i + 2] == 'X');
        const std::string_view digits = s.substr(i + (hex ? 3 : 2), semi - i - (hex ? 3 : 2));
        long value = -1;
        if (!digits.empty() && std::all_of(digits.begin(), digits.end(), [hex](unsigned char c) {
              return hex ? std::isxdigit(c) : std::isdigit(c);
            }))
          value = std::stol(std::string(digits), nullptr, hex ? 16 : 10);
        if (value > 0x20 && value < 0x7F) {
          out += char(value);
          i = semi + 1;
          replaced = true;
        }
      }
    }
    if (!replaced) out += s[i++];
  }
  return out;
}

// The text of every <location> element, in document order. Comments and
// CDATA are not expected in a station's list; a <location> without its end
// ends the scan.
std::vector<std::string> xspfLocations(std::string_view body) {
  std::vector<std::string> found;
  const std::string l = lower(body);
  size_t at = 0;
  while ((at = l.find("<location", at)) != std::string::npos) {
    const size_t open = l.find('>', at);
    if (open == std::string::npos) break;
    const size_t close = l.find("</location", open);
    if (close == std::string::npos) break;
    // "<locationfoo>" is another element.
    const char after = l[at + 9];
    if (after == '>' || std::isspace(static_cast<unsigned char>(after)))
      found.push_back(decodeXmlText(trim(body.substr(open + 1, close - open - 1))));
    at = close;
  }
  return found;
}

}  // namespace

bool looksLikePlaylist(std::string_view url, std::string_view contentType, std::string_view bodyStart) {
  const std::string type = lower(contentType);
  if (type.find("scpls") != std::string::npos || type.find("mpegurl") != std::string::npos ||
      type.find("xspf") != std::string::npos)
    return true;
  std::string path = lower(url.substr(0, url.find_first_of("?#")));
  if (path.ends_with(".pls") || path.ends_with(".m3u") || path.ends_with(".m3u8") || path.ends_with(".xspf"))
    return true;
  const std::string head = lower(trim(withoutBom(bodyStart).substr(0, 16)));
  return head.starts_with("[playlist]") || head.starts_with("#extm3u") || isXspf(withoutBom(bodyStart));
}

std::vector<std::string> parsePlaylist(std::string_view document, std::string_view baseUrl) {
  const std::string_view body = withoutBom(document);
  std::vector<std::string> entries;
  if (isXspf(body)) {
    for (const auto &location : xspfLocations(body)) {
      auto url = resolve(location, baseUrl);
      if (!url.empty() && isWebAddress(url)) entries.push_back(std::move(url));
    }
    return entries;
  }
  // Some other markup (an HTML error page): its lines are no addresses.
  if (trim(body).starts_with('<')) return entries;
  const auto lines = splitLines(body);
  bool pls = false;
  for (auto line : lines) {
    if (!trim(line).empty()) {
      pls = lower(trim(line)).starts_with("[playlist]");
      break;
    }
  }
  if (pls) {
    std::map<long, std::string> numbered;
    for (auto raw : lines) {
      const auto line = trim(raw);
      const auto eq = line.find('=');
      if (eq == std::string_view::npos) continue;
      const auto key = trim(line.substr(0, eq));
      if (key.size() < 5 || lower(key.substr(0, 4)) != "file") continue;
      const auto digits = key.substr(4);
      if (!std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); })) continue;
      if (digits.size() > 9) continue;
      const long n = std::stol(std::string(digits));
      auto url = resolve(trim(line.substr(eq + 1)), baseUrl);
      if (!url.empty() && isWebAddress(url)) numbered.emplace(n, std::move(url));
    }
    for (auto &[n, url] : numbered) entries.push_back(std::move(url));
  } else {
    for (auto raw : lines) {
      const auto line = trim(raw);
      if (line.empty() || line.front() == '#') continue;
      auto url = resolve(line, baseUrl);
      if (!url.empty() && isWebAddress(url)) entries.push_back(std::move(url));
    }
  }
  return entries;
}

}  // namespace kirasol::audio
