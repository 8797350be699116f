#include "nvram_values.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Open addressing over a power-of-two table, at most half full so that a
// probe soon meets an empty slot. Plain C memory: no constructor or
// destructor at load or exit, and nothing thrown when memory runs out.
struct Slot {
    char *text; // null when empty
    size_t hash;
};

Slot *slots = nullptr;
size_t capacity = 0; // 0 or a power of two
size_t used = 0;

size_t hash_of(std::string_view text) {
    // FNV-1a: short values of a settings store need nothing stronger.
    uint32_t h = 2166136261u;
    for (unsigned char c : text) {
        h ^= c;
        h *= 16777619u;
    }
    return h;
}

bool equal(const Slot &slot, size_t hash, std::string_view text) {
    return slot.hash == hash && strncmp(slot.text, text.data(), text.size()) == 0 &&
           slot.text[text.size()] == '\0';
}

Slot *probe(Slot *table, size_t cap, size_t hash, std::string_view text) {
    for (size_t i = hash & (cap - 1);; i = (i + 1) & (cap - 1)) {
        if (table[i].text == nullptr || equal(table[i], hash, text))
            return &table[i];
    }
}

bool grow() {
    size_t grown_cap = capacity == 0 ? 16 : capacity * 2;
    auto *grown = static_cast<Slot *>(calloc(grown_cap, sizeof(Slot)));
    if (grown == nullptr)
        return false;
    for (size_t i = 0; i < capacity; ++i) {
        if (slots[i].text == nullptr)
            continue;
        size_t at = slots[i].hash & (grown_cap - 1);
        while (grown[at].text != nullptr)
            at = (at + 1) & (grown_cap - 1);
        grown[at] = slots[i];
    }
    free(slots);
    slots = grown;
    capacity = grown_cap;
    return true;
}

} // namespace

namespace nvram {

char *keep_value(std::string_view value) {
    if ((used + 1) * 2 > capacity && !grow())
        return nullptr;
    size_t hash = hash_of(value);
    Slot *slot = probe(slots, capacity, hash, value);
    if (slot->text != nullptr)
        return slot->text;
    auto *copy = static_cast<char *>(malloc(value.size() + 1));
    if (copy == nullptr)
        return nullptr;
    memcpy(copy, value.data(), value.size());
    copy[value.size()] = '\0';
    *slot = Slot{copy, hash};
    ++used;
    return copy;
}

void release_values() {
    for (size_t i = 0; i < capacity; ++i)
        free(slots[i].text);
    free(slots);
    slots = nullptr;
    capacity = 0;
    used = 0;
}

} // namespace nvram
