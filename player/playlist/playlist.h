// Finds the one location a playlist names, from the playlist's raw text.
//
// Understood: a URI list or M3U (recognised by the decoder's caps, so the
// caller says so; otherwise by its "#EXTM3U" header or a first entry with a
// scheme), PLS (marked by "[playlist]"), ASX (marked by "<ASX") and XSPF
// (marked by "<playlist"), markers in any letter case. A leading UTF-8
// byte-order mark is skipped. The text may be incomplete, hostile or
// truncated; nothing is read outside it and nothing is written.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

// Where the location stands inside the text that was parsed.
struct PlaylistLocation {
    std::size_t offset;
    std::size_t length;
};

// The text ends at its first NUL byte, as it would for a C string: what
// follows a NUL is never looked at. An empty entry counts as no entry.
std::optional<PlaylistLocation> find_playlist_location(std::string_view text, bool uri_list);

// Whether the text says it is a playlist at all: it holds "[playlist]",
// "<ASX", "<playlist" or "#EXTM3U", in any letter case (before any NUL). A
// playlist with a marker but no usable entry is still a playlist; a text
// without one is not.
bool has_playlist_marker(std::string_view text);
