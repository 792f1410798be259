#pragma once
// Station playlists (.pls, .m3u and XSPF): the stream addresses they list, in
// order. The engine resolves the playlists it fetches with these, and the
// player reads a local playlist file with the same ones, so a file behaves
// the same from disk and over HTTP. A UTF-8 byte-order mark in front of the
// document is ignored (Windows editors write one).

#include <string>
#include <string_view>
#include <vector>

namespace kirasol::audio {

// True when a response looks like a playlist rather than audio: its content
// type, the extension of its address, or the first bytes of its body say so.
bool looksLikePlaylist(std::string_view url, std::string_view contentType, std::string_view bodyStart);

// Entries of a .pls ("FileN=" lines, in N order), XSPF (the <location> of each
// track, XML character references decoded) or .m3u (non-comment lines)
// document. Only http:// and https:// addresses are kept; relative entries are
// resolved against `baseUrl`.
std::vector<std::string> parsePlaylist(std::string_view body, std::string_view baseUrl);

}  // namespace kirasol::audio
