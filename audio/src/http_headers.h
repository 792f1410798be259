#pragma once
// Response header blocks as the engine keeps them for the ICY/HTTP tags, and
// the few header values the engine itself needs.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kirasol::audio {

enum class HeaderKind { None, Icy, Http };

// Which tag a response belongs to, from its status line.
HeaderKind headerKindOf(std::string_view statusLine);

// Status code of "HTTP/1.1 404 Not Found" or "ICY 200 OK"; nothing when absent.
std::optional<int> statusCodeOf(std::string_view statusLine);

// The tag layout: each line NUL-terminated, status line first, ended by an
// empty string (so the block ends with two NULs).
std::string tagBlock(const std::vector<std::string> &lines);

// Value of the first header `name` (ASCII case-insensitive), leading blanks
// and trailing blanks removed.
std::optional<std::string> headerValue(const std::vector<std::string> &lines, std::string_view name);

// Removes a trailing CR LF (or LF) from a raw header line.
std::string trimLineEnd(std::string_view raw);

}  // namespace kirasol::audio
