#include "nvram_format.h"

#include <algorithm>
#include <errno.h>
#include <stdint.h>
#include <string.h>

namespace nvram {

namespace {

bool has_line_end_or_nul(std::string_view text) {
    for (char c : text)
        if (c == '\n' || c == '\r' || c == '\0')
            return true;
    return false;
}

// Splits the first line off `rest` (without its "\n"); `terminated` tells
// whether a "\n" ended it. False when `rest` is empty.
bool take_line(std::string_view &rest, std::string_view &line, bool &terminated) {
    if (rest.empty())
        return false;
    const void *nl = memchr(rest.data(), '\n', rest.size());
    size_t len =
        nl ? static_cast<size_t>(static_cast<const char *>(nl) - rest.data()) : rest.size();
    line = std::string_view(rest.data(), len);
    terminated = nl != nullptr;
    rest.remove_prefix(terminated ? len + 1 : len);
    return true;
}

Entry split_line(std::string_view line) {
    size_t eq = line.find('=');
    return Entry{std::string_view(line.data(), eq),
                 std::string_view(line.data() + eq + 1, line.size() - eq - 1)};
}

// Line (1-based) of the first line whose key an earlier line already has,
// or 0. Reorders `spans` (the keys of lines 1..count).
size_t first_repeated_key_line(std::string_view text, KeySpan *spans, size_t count) {
    auto key = [&](const KeySpan &span) {
        return std::string_view(text.data() + span.offset, span.length);
    };
    std::sort(spans, spans + count, [&](const KeySpan &a, const KeySpan &b) {
        int order = key(a).compare(key(b));
        return order != 0 ? order < 0 : a.offset < b.offset;
    });
    // Equal keys end up side by side in line order; any one after its twin
    // is a repeat, and the earliest of them is the line a reader meets first.
    uint32_t first_repeat = UINT32_MAX;
    for (size_t i = 1; i < count; ++i) {
        if (spans[i].offset < first_repeat && key(spans[i]) == key(spans[i - 1]))
            first_repeat = spans[i].offset;
    }
    if (first_repeat == UINT32_MAX)
        return 0;
    size_t line = 1;
    for (const char *p = text.data(); p < text.data() + first_repeat; ++p)
        line += *p == '\n';
    return line;
}

} // namespace

int check_key(std::string_view key) {
    if (key.empty() || key.find('=') != std::string_view::npos || has_line_end_or_nul(key))
        return -EINVAL;
    if (key.size() > kMaxKeyBytes)
        return -ENAMETOOLONG;
    return 0;
}

int check_value(std::string_view value) {
    if (has_line_end_or_nul(value))
        return -EINVAL;
    if (value.size() > kMaxValueBytes)
        return -E2BIG;
    return 0;
}

StoreCheck check_store(std::string_view text, KeySpan *scratch) {
    StoreCheck result;
    if (text.size() > kMaxStoreBytes) {
        result.damage = Damage::too_large;
        return result;
    }
    std::string_view rest = text;
    std::string_view line;
    bool terminated = false;
    size_t lineno = 0;
    while (take_line(rest, line, terminated)) {
        ++lineno;
        auto fail = [&](Damage d) {
            result.damage = d;
            result.line = lineno;
            return result;
        };
        if (!terminated)
            return fail(Damage::unterminated);
        if (lineno > kMaxEntries)
            return fail(Damage::too_many);
        if (memchr(line.data(), '\0', line.size()) || memchr(line.data(), '\r', line.size()))
            return fail(Damage::bad_byte);
        size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            return fail(Damage::no_separator);
        if (eq == 0)
            return fail(Damage::empty_key);
        Entry e = split_line(line);
        if (e.key.size() > kMaxKeyBytes)
            return fail(Damage::key_too_long);
        if (e.value.size() > kMaxValueBytes)
            return fail(Damage::value_too_long);
        scratch[result.entries].offset = static_cast<uint32_t>(e.key.data() - text.data());
        scratch[result.entries].length = static_cast<uint32_t>(e.key.size());
        ++result.entries;
    }
    // Every read checks the whole store, so repeats are found by sorting the
    // keys (n log n) rather than comparing each with all before it: a full
    // store would otherwise cost millions of compares per read on a router.
    size_t repeat_line = first_repeated_key_line(text, scratch, result.entries);
    if (repeat_line != 0) {
        result.damage = Damage::duplicate_key;
        result.line = repeat_line;
        result.entries = repeat_line - 1;
    }
    return result;
}

bool next_entry(std::string_view &rest, Entry &entry) {
    std::string_view line;
    bool terminated = false;
    if (!take_line(rest, line, terminated))
        return false;
    entry = split_line(line);
    return true;
}

bool find_value(std::string_view text, std::string_view key, std::string_view &value) {
    Entry e;
    while (next_entry(text, e)) {
        if (e.key == key) {
            value = e.value;
            return true;
        }
    }
    return false;
}

size_t edit_bound(std::string_view text, std::string_view key, std::string_view value) {
    return text.size() + key.size() + value.size() + 2;
}

long apply_edit(std::string_view text, std::string_view key, const std::string_view *value,
                char *out, size_t cap) {
    size_t len = 0;
    size_t entries = 0;
    bool done = false;
    auto put = [&](std::string_view part) {
        if (part.size() > cap - len)
            return false;
        memcpy(out + len, part.data(), part.size());
        len += part.size();
        return true;
    };
    auto put_entry = [&](std::string_view k, std::string_view v) {
        ++entries;
        return put(k) && put("=") && put(v) && put("\n");
    };

    std::string_view rest = text;
    Entry e;
    while (next_entry(rest, e)) {
        bool ok = true;
        if (e.key == key) {
            done = true;
            if (value != nullptr)
                ok = put_entry(key, *value);
        } else {
            ok = put_entry(e.key, e.value);
        }
        if (!ok)
            return -ENOSPC;
    }
    if (!done && value != nullptr && !put_entry(key, *value))
        return -ENOSPC;
    if (len > kMaxStoreBytes || entries > kMaxEntries)
        return -ENOSPC;
    return static_cast<long>(len);
}

const char *damage_text(Damage damage) {
    switch (damage) {
    case Damage::none:
        return "no damage";
    case Damage::too_large:
        return "file larger than the store's limit";
    case Damage::too_many:
        return "more entries than the store's limit";
    case Damage::no_separator:
        return "line without '='";
    case Damage::empty_key:
        return "line with an empty key";
    case Damage::key_too_long:
        return "key longer than the limit";
    case Damage::value_too_long:
        return "value longer than the limit";
    case Damage::bad_byte:
        return "NUL or carriage return byte";
    case Damage::duplicate_key:
        return "key repeated from an earlier line";
    case Damage::unterminated:
        return "last line cut short (no line end)";
    }
    return "unknown damage";
}

} // namespace nvram
