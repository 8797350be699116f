// The settings store's file format: any bytes a damaged or hostile file may
// hold, and the edit of a store that passed the check.
#include "fuzz_input.h"
#include "nvram_format.h"

#include <memory>
#include <cerrno>
#include <cstring>
#include <string>

using namespace nvram;

namespace {

StoreCheck check(std::string_view text) {
    std::unique_ptr<KeySpan[]> scratch(new KeySpan[scratch_spans(text.size())]);
    return check_store(text, scratch.get());
}

// Every entry written back as a store, in order.
std::string serialise(std::string_view text, std::size_t *entries) {
    std::string out;
    Entry entry;
    *entries = 0;
    while (next_entry(text, entry)) {
        out.append(entry.key).append("=").append(entry.value).append("\n");
        ++*entries;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzInput in(data, size);
    const unsigned op = in.byte();
    const std::string_view key = in.field('\x01');
    const std::string_view value = in.field('\x01');
    const std::string_view text = in.rest();

    const StoreCheck checked = check(text);
    if (checked.damage != Damage::none) {
        FUZZ_CHECK(damage_text(checked.damage) != nullptr);
        return 0;
    }
    // A sound store round-trips: parse, serialise, parse gives the same.
    std::size_t entries = 0;
    const std::string again = serialise(text, &entries);
    FUZZ_CHECK(again == text);
    FUZZ_CHECK(entries == checked.entries);
    for (std::string_view rest = text; !rest.empty();) {
        Entry entry;
        FUZZ_CHECK(next_entry(rest, entry));
        std::string_view found;
        FUZZ_CHECK(find_value(text, entry.key, found) && found == entry.value);
    }

    if (check_key(key) != 0 || check_value(value) != 0)
        return 0;
    const bool remove = op & 1;
    const std::size_t cap = edit_bound(text, key, value);
    std::unique_ptr<char[]> out(new char[cap]);
    const long written = apply_edit(text, key, remove ? nullptr : &value, out.get(), cap);
    if (written < 0) {
        FUZZ_CHECK(written == -ENOSPC);
        return 0;
    }
    // The edit gives a sound store with the key changed and nothing else.
    const std::string_view edited(out.get(), static_cast<std::size_t>(written));
    FUZZ_CHECK(check(edited).damage == Damage::none);
    std::string_view now;
    if (remove)
        FUZZ_CHECK(!find_value(edited, key, now));
    else
        FUZZ_CHECK(find_value(edited, key, now) && now == value);
    for (std::string_view rest = text; !rest.empty();) {
        Entry entry;
        FUZZ_CHECK(next_entry(rest, entry));
        if (entry.key == key)
            continue;
        FUZZ_CHECK(find_value(edited, entry.key, now) && now == entry.value);
    }
    return 0;
}
