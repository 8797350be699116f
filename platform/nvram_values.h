// The values nvram_get has handed out and still owes its callers.
//
// A caller may keep a value until its own next write, across any number of
// reads and of changes other processes make. Each distinct value handed out
// is kept once, as its own small copy: the same text read again, by any key,
// is the copy already kept, so a reader grows with the distinct values it
// reads, never with the size of the store times the changes it sees.
#ifndef PLATFORM_NVRAM_VALUES_H
#define PLATFORM_NVRAM_VALUES_H

#include <string_view>

namespace nvram {

// The kept copy of `value` (NUL-terminated), made now unless an equal one is
// kept already; null when there is no memory for it (nothing changed then).
char *keep_value(std::string_view value);

// Frees every kept value: for the caller's own write, which ends them all.
void release_values();

} // namespace nvram

#endif
