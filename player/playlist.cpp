#include "playlist.h"

namespace {

constexpr std::size_t npos = std::string_view::npos;

constexpr std::string_view kPlsMarker = "[playlist]";
constexpr std::string_view kPlsMarkerLower = kPlsMarker;
constexpr std::string_view kAsxMarker = "<asx";
constexpr std::string_view kRefUpper = "<Ref href";
constexpr std::string_view kRefLower = "<ref href";

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// needle must be lower case.
std::size_t find_any_case(std::string_view text, std::string_view needle, std::size_t from) {
    if (needle.size() > text.size()) {
        return npos;
    }
    for (std::size_t i = from; i + needle.size() <= text.size(); ++i) {
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
    for (std::string_view scheme : {"http:", "HTTP:", "https:", "HTTPS:"}) {
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

} // namespace

std::optional<PlaylistLocation> find_playlist_location(std::string_view text, bool uri_list) {
    std::size_t nul = text.find('\0');
    if (nul != npos) {
        text = text.substr(0, nul);
    }
    if (uri_list) {
        return find_uri_list_entry(text);
    }
    std::size_t marker = text.find(kPlsMarker);
    if (marker != npos) {
        return find_pls_entry(text, marker);
    }
    marker = find_any_case(text, kAsxMarker, 0);
    if (marker != npos) {
        return find_asx_entry(text, marker);
    }
    return std::nullopt;
}

bool has_playlist_marker(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    return find_any_case(text, kPlsMarkerLower, 0) != npos ||
           find_any_case(text, kAsxMarker, 0) != npos;
}
