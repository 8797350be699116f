// The settings store on disk: where it lives, loading it, and the locked
// read-modify-write that every change goes through.
//
// Paths: the store file is $NVRAM_FILE when that is set and not empty, else
// kDefaultStorePath. Beside it live "<store>.lock" (the writers' lock, never
// removed) and short-lived "<store>.tmp-XXXXXX" temporaries. The file format and
// its bounds are in nvram_format.h.
//
// Readers take no lock: a writer replaces the whole file with rename, so a
// reader opens either the old store or the new one. Writers hold an
// exclusive flock on the lock file from reading the store until the new one
// is in place, so concurrent writers in different processes never lose each
// other's changes; the kernel drops the lock when a writer dies, even by
// kill -9, and what such a writer leaves is the old store and perhaps a
// stray temporary, never a torn store.
#ifndef PLATFORM_NVRAM_STORE_H
#define PLATFORM_NVRAM_STORE_H

#include "nvram_format.h"

#include <stddef.h>
#include <string_view>

namespace nvram {

constexpr const char kDefaultStorePath[] = "/var/lib/nvram/nvram.txt";

// $NVRAM_FILE or the default path.
const char *store_path();

// Reads and checks the whole store at `path`. On success `*text` is a
// malloc'd copy of the file with a NUL after its `*len` bytes (the caller
// frees it); a missing file is an empty store. Returns 0, -EBADMSG for a
// damaged store (with `*check` saying where), or another -errno.
int load_store(const char *path, char **text, size_t *len, StoreCheck *check);

// Sets `key` to `*value`, or removes it when `value` is null, under the
// writers' lock. A damaged store is left exactly as it is (-EBADMSG, with
// `*check` filled). Returns 0, -EINVAL/-ENAMETOOLONG/-E2BIG for a bad key
// or value, -ENOSPC when the store would outgrow its bounds, or another
// -errno.
int edit_store(const char *path, std::string_view key, const std::string_view *value,
               StoreCheck *check);

} // namespace nvram

#endif
