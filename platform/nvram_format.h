// The settings store's text format, with no I/O: checking, looking up and
// editing a store held in memory.
//
// A store file is a sequence of lines, each "KEY=VALUE" ended by "\n":
//
//     radio_preparing=0
//     usr_url0=Jazz FM,http://example.net/jazz,Jazz,128kbps
//
// so `cat` or `nvram show` reads it as it is. The key ends at the first "=",
// which lets a value hold "=" and any other byte except NUL and line ends
// ("\n", "\r"). A key is not empty and holds no "=" and no line end. The
// order of lines is the order in which keys were first set; a key appears
// once. An empty (or missing) file is an empty store.
//
// Anything else is a damaged store and is reported, never repaired in
// passing: a line with no "=", an empty or over-long key, an over-long
// value, a NUL or "\r" byte, a repeated key, a last line with no "\n" (a cut
// file), more than kMaxEntries lines, or more than kMaxStoreBytes bytes.
#ifndef PLATFORM_NVRAM_FORMAT_H
#define PLATFORM_NVRAM_FORMAT_H

#include <stddef.h>
#include <stdint.h>
#include <string_view>

namespace nvram {

// Bounds, in bytes without the terminating NUL. They keep every buffer of
// the store small and fixed in size on a router with a few MB of RAM.
constexpr size_t kMaxKeyBytes = 64;
constexpr size_t kMaxValueBytes = 4096;
constexpr size_t kMaxEntries = 2048;
constexpr size_t kMaxStoreBytes = 64 * 1024;

// 0, or -EINVAL (empty, holds "=" or a line end or NUL), -ENAMETOOLONG.
int check_key(std::string_view key);
// 0, or -EINVAL (holds a line end or NUL), -E2BIG.
int check_value(std::string_view value);

enum class Damage {
    none,
    too_large,      // more than kMaxStoreBytes
    too_many,       // more than kMaxEntries lines
    no_separator,   // a line without "="
    empty_key,      // a line starting with "="
    key_too_long,   // key over kMaxKeyBytes
    value_too_long, // value over kMaxValueBytes
    bad_byte,       // NUL or "\r"
    duplicate_key,  // a key seen on an earlier line
    unterminated,   // the last line has no "\n"
};

struct StoreCheck {
    Damage damage = Damage::none;
    size_t line = 0;    // 1-based line of the damage (0 when none or whole-file)
    size_t entries = 0; // lines checked and found sound
};

// Where a key sits in the text; filled by check_store for the repeat test.
struct KeySpan {
    uint32_t offset;
    uint32_t length;
};

// Spans check_store needs for a text of `text_bytes` bytes: every sound
// line takes at least three bytes ("k=\n").
constexpr size_t scratch_spans(size_t text_bytes) {
    return text_bytes / 3 + 1 < kMaxEntries ? text_bytes / 3 + 1 : kMaxEntries;
}

// Checks every line of `text`. `scratch` holds scratch_spans(text.size()).
StoreCheck check_store(std::string_view text, KeySpan *scratch);

// One line of a store that passed check_store.
struct Entry {
    std::string_view key;
    std::string_view value;
};

// Takes the next entry off the front of `rest`; false at the end. Only for
// text that passed check_store.
bool next_entry(std::string_view &rest, Entry &entry);

// The value of `key`, or false when it is not set. Only for checked text.
bool find_value(std::string_view text, std::string_view key, std::string_view &value);

// Largest text apply_edit can produce from `text` for this edit.
size_t edit_bound(std::string_view text, std::string_view key, std::string_view value);

// Writes into `out` (capacity `cap`) the checked store `text` with `key` set
// to `*value`, or removed when `value` is null. A key already present keeps
// its line; a new key is appended. Returns the new length, or -ENOSPC when
// the result would exceed kMaxStoreBytes, kMaxEntries or `cap`. The caller
// has checked key and value.
long apply_edit(std::string_view text, std::string_view key, const std::string_view *value,
                char *out, size_t cap);

// A short English description of `damage`, for the tool's messages.
const char *damage_text(Damage damage);

} // namespace nvram

#endif
