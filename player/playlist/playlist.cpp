#include "playlist/playlist.h"

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Editors on desktop systems start a UTF-8 file with it; no reader wants it.
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Markers are matched in any letter case, so all are given in lower case.
constexpr std::string_view kPlsMarker = "[playlist]";
constexpr std::string_view kAsxMarker = "<asx";
constexpr std::string_view kXspfMarker = "<playlist";
constexpr std::string_view kM3uMarker = "#extm3u";
constexpr std::string_view kRefUpper = "<Ref href";
constexpr std::string_view kRefLower = "<ref href";
constexpr std::string_view kXspfTrackList = "<tracklist";
constexpr std::string_view kXspfTrackListEnd = "</tracklist";
constexpr std::string_view kXspfLocation = "<location";

// The schemes of a web location, in the order a PLS entry prefers them.
constexpr std::string_view kWebSchemes[] = {"http:", "HTTP:", "https:", "HTTPS:"};

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// needle must be lower case and not empty.
std::size_t find_any_case(std::string_view text, std::string_view needle, std::size_t from) {
    if (needle.size() > text.size()) {
        return npos;
    }
    // Every marker starts with a character that has no case ('[', '<', '#'):
    // the library's search skips to its candidates far faster.
    const bool caseless_start = needle[0] < 'a' || needle[0] > 'z';
    for (std::size_t i = from; i + needle.size() <= text.size(); ++i) {
        if (caseless_start) {
            i = text.find(needle[0], i);
            if (i == npos || i + needle.size() > text.size()) {
                return npos;
            }
        }
        std::size_t k = 0;
        while (k < needle.size() && lower(text[i + k]) == needle[k]) {
            ++k;
        }
        if (k == needle.size()) {
            return i;
        }
    }
    return npos;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

bool is_space(char c) {
    return is_blank(c) || c == '\r' || c == '\n';
}

bool is_alpha(char c) {
    return lower(c) >= 'a' && lower(c) <= 'z';
}

bool starts_with_any_case(std::string_view text, std::string_view needle) {
    return find_any_case(text.substr(0, needle.size()), needle, 0) == 0;
}

bool is_web_location(std::string_view value) {
    for (std::string_view scheme : kWebSchemes) {
        if (value.substr(0, scheme.size()) == scheme) {
            return true;
        }
    }
    return false;
}

// "scheme://": what GStreamer's typefinder looks for in a URI list's first
// line that is not a comment.
bool has_scheme(std::string_view line) {
    if (line.empty() || !is_alpha(line[0])) {
        return false;
    }
    std::size_t i = 1;
    while (i < line.size() && (is_alpha(line[i]) || (line[i] >= '0' && line[i] <= '9') ||
                               line[i] == '+' || line[i] == '-' || line[i] == '.')) {
        ++i;
    }
    return line.substr(i, 3) == "://";
}

std::optional<PlaylistLocation> make_location(std::size_t begin, std::size_t end) {
    if (end <= begin) {
        return std::nullopt;
    }
    return PlaylistLocation{begin, end - begin};
}

// RFC 2483: lines starting with "#" are comments. M3U's "#EXTM3U" and
// "#EXTINF:" lines are comments by that rule, so M3U needs nothing more.
std::optional<PlaylistLocation> find_uri_list_entry(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t eol = text.find_first_of("\r\n", pos);
        if (eol == npos) {
            eol = text.size();
        }
        std::size_t begin = pos;
        std::size_t end = eol;
        while (begin < end && is_blank(text[begin])) {
            ++begin;
        }
        while (end > begin && is_blank(text[end - 1])) {
            --end;
        }
        if (begin < end && text[begin] != '#') {
            return make_location(begin, end);
        }
        pos = eol + 1;
    }
    return std::nullopt;
}

// The first web location after the marker wins, whatever key stands before
// it. A lower-case scheme is preferred even when an upper-case one comes
// first, and https: counts only when there is no http: entry at all, so a
// list that mixes them keeps resolving to the entry it always did.
std::optional<PlaylistLocation> find_pls_entry(std::string_view text, std::size_t marker) {
    const std::size_t from = marker + kPlsMarker.size();
    std::size_t entry = npos;
    std::size_t scheme_length = 0;
    for (std::string_view scheme : kWebSchemes) {
        entry = text.find(scheme, from);
        if (entry != npos) {
            scheme_length = scheme.size();
            break;
        }
    }
    if (entry == npos) {
        return std::nullopt;
    }
    std::size_t end = text.find_first_of("\r\n", entry + scheme_length);
    return make_location(entry, end == npos ? text.size() : end);
}

// The exact spellings come first so that a playlist mixing them resolves as
// it always has; any other spelling is accepted only when neither is there.
std::size_t find_asx_ref(std::string_view text, std::size_t from) {
    std::size_t at = text.find(kRefUpper, from);
    if (at == npos) {
        at = text.find(kRefLower, from);
    }
    if (at == npos) {
        at = find_any_case(text, kRefLower, from);
    }
    return at;
}

// With two or more references the second one is played, never a later one;
// stations' lists that carry several references rely on that choice.
std::optional<PlaylistLocation> find_asx_entry(std::string_view text, std::size_t marker) {
    std::size_t ref = find_asx_ref(text, marker);
    if (ref == npos) {
        return std::nullopt;
    }
    std::size_t value = ref + kRefLower.size();
    std::size_t second = find_asx_ref(text, value);
    if (second != npos) {
        value = second + kRefLower.size();
    }
    std::size_t open = text.find('"', value);
    if (open == npos) {
        return std::nullopt;
    }
    std::size_t close = text.find('"', open + 1);
    if (close == npos) {
        return std::nullopt;
    }
    return make_location(open + 1, close);
}

// XSPF, as Icecast serves every mount: the first <location> of the track
// list, which must be a web location like a PLS entry. Its element must be
// complete; a location cut short is no location.
std::optional<PlaylistLocation> find_xspf_entry(std::string_view text, std::size_t marker) {
    const std::size_t list = find_any_case(text, kXspfTrackList, marker);
    const std::size_t list_tag_end = list == npos ? npos : text.find('>', list);
    if (list_tag_end == npos || text[list_tag_end - 1] == '/') {
        return std::nullopt;
    }
    const std::size_t location = find_any_case(text, kXspfLocation, list_tag_end);
    const std::size_t list_end = find_any_case(text, kXspfTrackListEnd, list_tag_end);
    if (location == npos || list_end < location) {
        return std::nullopt;
    }
    const std::size_t tag_end = text.find('>', location + kXspfLocation.size());
    if (tag_end == npos || text[tag_end - 1] == '/') {
        return std::nullopt;
    }
    std::size_t begin = tag_end + 1;
    std::size_t end = text.find('<', begin);
    if (end == npos) {
        return std::nullopt;
    }
    while (begin < end && is_space(text[begin])) {
        ++begin;
    }
    while (end > begin && is_space(text[end - 1])) {
        --end;
    }
    if (!is_web_location(text.substr(begin, end - begin))) {
        return std::nullopt;
    }
    return make_location(begin, end);
}

// A URI list or M3U that GStreamer did not recognise as one (a byte-order
// mark in front, or too short to decide on): read as a URI list when it
// starts with the M3U header or its first entry has a scheme, as the
// typefinder would have had it.
std::optional<PlaylistLocation> find_unrecognised_uri_list_entry(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size() && is_space(text[start])) {
        ++start;
    }
    const auto entry = find_uri_list_entry(text);
    if (!entry) {
        return std::nullopt;
    }
    if (starts_with_any_case(text.substr(start), kM3uMarker) ||
        has_scheme(text.substr(entry->offset, entry->length))) {
        return entry;
    }
    return std::nullopt;
}

std::optional<PlaylistLocation> find_entry(std::string_view text, bool uri_list) {
    if (uri_list) {
        return find_uri_list_entry(text);
    }
    std::size_t marker = find_any_case(text, kPlsMarker, 0);
    if (marker != npos) {
        return find_pls_entry(text, marker);
    }
    marker = find_any_case(text, kAsxMarker, 0);
    if (marker != npos) {
        return find_asx_entry(text, marker);
    }
    marker = find_any_case(text, kXspfMarker, 0);
    if (marker != npos) {
        return find_xspf_entry(text, marker);
    }
    return find_unrecognised_uri_list_entry(text);
}

} // namespace

std::optional<PlaylistLocation> find_playlist_location(std::string_view text, bool uri_list) {
    std::size_t nul = text.find('\0');
    if (nul != npos) {
        text = text.substr(0, nul);
    }
    std::size_t skipped = 0;
    if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        skipped = kUtf8Bom.size();
        text.remove_prefix(skipped);
    }
    auto found = find_entry(text, uri_list);
    if (found) {
        found->offset += skipped;
    }
    return found;
}

bool has_playlist_marker(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    for (std::string_view marker : {kPlsMarker, kAsxMarker, kXspfMarker, kM3uMarker}) {
        if (find_any_case(text, marker, 0) != npos) {
            return true;
        }
    }
    return false;
}
