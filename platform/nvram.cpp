// nvram_get / nvram_set / nvram_unset: the store as the programs see it.
//
// nvram_get hands out pointers into a private copy of the store (a
// "generation": the file's text with each line end turned into a NUL, so
// every value is a C string in place). Callers may hold such a pointer until
// their own next write, across any number of reads, so every generation
// stays alive while newer ones are loaded after other processes changed the
// file; this process's next nvram_set or nvram_unset frees them all. A read
// that finds the file unchanged reuses the current generation, so a process
// that only reads grows only while others keep changing the store.
//
// Callers use the store from one thread (the programs' main loop); these
// functions keep no lock of their own.
#include "export.h"
#include "nvram_store.h"
#include "shared.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

namespace {

struct Generation {
    char *text = nullptr; // lines NUL-separated, plus a final NUL
    size_t len = 0;
};

Generation current;
// Older generations, still readable through pointers handed out earlier.
char **retired = nullptr;
size_t retired_count = 0;
size_t retired_capacity = 0;

bool same_as_current(const char *fresh, size_t len) {
    if (current.text == nullptr || current.len != len)
        return false;
    // A sound store holds no NUL byte, so each NUL in the generation stands
    // for exactly one line end of the file.
    for (size_t i = 0; i < len; ++i) {
        char c = current.text[i] != '\0' ? current.text[i] : '\n';
        if (c != fresh[i])
            return false;
    }
    return true;
}

// Keeps the current generation readable after a newer one takes its place.
// False (nothing changed) when there is no memory to remember it in.
bool retire_current() {
    if (current.text == nullptr)
        return true;
    if (retired_count == retired_capacity) {
        size_t capacity = retired_capacity == 0 ? 4 : retired_capacity * 2;
        void *grown = realloc(retired, capacity * sizeof retired[0]);
        if (grown == nullptr)
            return false;
        retired = static_cast<char **>(grown);
        retired_capacity = capacity;
    }
    retired[retired_count++] = current.text;
    current = Generation{};
    return true;
}

void free_all_generations() {
    for (size_t i = 0; i < retired_count; ++i)
        free(retired[i]);
    retired_count = 0;
    free(current.text);
    current = Generation{};
}

void adopt(char *text, size_t len) {
    for (size_t i = 0; i < len; ++i)
        if (text[i] == '\n')
            text[i] = '\0';
    current.text = text;
    current.len = len;
}

char *find_in_current(const char *key) {
    size_t key_len = strlen(key);
    char *p = current.text;
    char *end = current.text + current.len;
    while (p < end) {
        size_t line_len = strlen(p);
        if (line_len > key_len && p[key_len] == '=' && memcmp(p, key, key_len) == 0)
            return p + key_len + 1;
        p += line_len + 1;
    }
    return nullptr;
}

int write_store(const char *key, const char *value) {
    if (key == nullptr)
        return -EINVAL;
    std::string_view value_view;
    if (value != nullptr)
        value_view = value;
    char *written = nullptr;
    size_t written_len = 0;
    int rc = nvram::edit_store(nvram::store_path(), key, value != nullptr ? &value_view : nullptr,
                               nullptr, &written, &written_len);
    if (rc != 0)
        return rc;
    // The caller's write ends the life of every value handed out so far
    // (`value` itself may have been one of them: it is no longer used).
    free_all_generations();
    adopt(written, written_len);
    return 0;
}

} // namespace

PLATFORM_EXPORT char *nvram_get(const char *key) {
    if (key == nullptr || nvram::check_key(key) != 0) {
        errno = EINVAL;
        return nullptr;
    }
    char *text = nullptr;
    size_t len = 0;
    int rc = nvram::load_store(nvram::store_path(), &text, &len, nullptr);
    if (rc != 0) {
        // A damaged store reads as EBADMSG rather than as "all unset".
        errno = -rc;
        return nullptr;
    }
    if (same_as_current(text, len)) {
        free(text);
    } else if (retire_current()) {
        adopt(text, len);
    } else {
        // Freeing the current generation would break values handed out.
        free(text);
        errno = ENOMEM;
        return nullptr;
    }
    char *value = find_in_current(key);
    if (value == nullptr)
        errno = ENOENT;
    return value;
}

PLATFORM_EXPORT int nvram_set(const char *key, const char *value) {
    if (value == nullptr)
        return -EINVAL;
    return write_store(key, value);
}

PLATFORM_EXPORT int nvram_unset(const char *key) {
    return write_store(key, nullptr);
}
