#include "nvram_format.h"

#include <errno.h>
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
        // At most kMaxEntries keys of at most kMaxKeyBytes: the quadratic
        // scan is bounded, and the length test skips almost every compare.
        for (size_t i = 0; i < result.entries; ++i) {
            const KeySpan &seen = scratch[i];
            if (seen.length == e.key.size() &&
                memcmp(text.data() + seen.offset, e.key.data(), seen.length) == 0)
                return fail(Damage::duplicate_key);
        }
        scratch[result.entries].offset = static_cast<uint32_t>(e.key.data() - text.data());
        scratch[result.entries].length = static_cast<uint32_t>(e.key.size());
        ++result.entries;
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
