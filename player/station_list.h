// Text decisions of the bitrate recording: which station list line or user
// station entry gets which new text. Pure functions over the bytes read; the
// file and settings-store work lives in iradio_update.cpp.
//
// A station line, from its third comma on, reads ,"128kbps",KEY] and a user
// station entry the same with the number unpadded. Only commas are counted:
// the first three fields are never looked at.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

// One read of a list line, line end included (a longer line is handled as
// several pieces of this size), and the longest rebuilt line we write.
inline constexpr std::size_t kListLineMax = 1023;
// One read of a "/tmp/url" line and of the station key, line end included.
inline constexpr std::size_t kUrlLineMax = 99;
inline constexpr std::size_t kStationKeyMax = 99;
// Longest user station entry value we write.
inline constexpr std::size_t kUserEntryMax = 149;
// How many "/tmp/url" lines (and so "usr_url%d" entries) are examined.
inline constexpr int kUserEntryCount = 10;

// Bits per second to kbps, truncating toward zero (-1500 gives -1).
constexpr int bitrate_to_kbps(int bitrate) {
    return bitrate / 1000;
}

// Offset of the third comma of `text`, or nothing when it has fewer.
std::optional<std::size_t> find_third_comma(std::string_view text);

// "radio_table" value (null for unset): true when its leading decimal integer
// is non-zero, which selects the user built-in list. Reads the number the way
// atoi does (leading blanks, optional sign) without its overflow.
bool radio_table_selects_user_list(const char *value);

// `text` before its third comma, then ,"%3dkbps",KEY and "]", written
// NUL-terminated into `out`. Nothing when `text` has fewer than three commas
// or the result is longer than kListLineMax (or does not fit `out`).
std::optional<std::string_view> rebuild_list_line(std::string_view text, int kbps,
                                                  std::string_view key, char *out,
                                                  std::size_t out_size);

// The same for a user station entry value: ,"%dkbps",KEY and "]" after the
// first three fields; nothing when longer than kUserEntryMax.
std::optional<std::string_view> rebuild_user_entry(std::string_view value, int kbps,
                                                   std::string_view key, char *out,
                                                   std::size_t out_size);

// A key names a station only when it holds more than a line end: a key
// file written with `echo "" >` holds "\n" (or "\r\n"), and such a key
// would match every line of the list and every "/tmp/url" line.
bool station_key_names_station(std::string_view key);

// A "/tmp/url" line marks the playing station's entry when it begins with
// the whole key. An empty key marks nothing.
bool url_line_marks_station(std::string_view line, std::string_view key);

enum class ListLineChange {
    keep,     // no key in it, a zero bitrate, or no text we may write
    in_place, // the new text is as long as the old line: overwrite it
    resize,   // the length changes: only a whole rewrite keeps the list intact
};

struct ListLinePlan {
    ListLineChange change = ListLineChange::keep;
    std::string_view text; // the new line, without line end (unless keep)
};

// Decides what happens to one piece of the list as read (line end included
// when it has one). The station key may occur anywhere in it. A zero bitrate
// leaves the list alone; 1 to 999 bits per second are recorded as 0 kbps.
ListLinePlan plan_list_line(std::string_view piece, std::string_view key, int bitrate, char *out,
                            std::size_t out_size);
