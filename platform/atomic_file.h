// Whole-file replacement that readers and crashes never see half done.
#ifndef PLATFORM_ATOMIC_FILE_H
#define PLATFORM_ATOMIC_FILE_H

#include <stddef.h>
#include <sys/types.h>

namespace platform {

// Temporaries of replace_file are named "<path>.tmp-" plus six letters and
// digits (mkstemp's), a name no one gives a file of their own.
constexpr const char kTemporaryInfix[] = ".tmp-";

// Makes `path` hold exactly the `len` bytes at `data`. The bytes go to a
// temporary file in the same directory (so rename stays within one file
// system), which is fsynced and then renamed over `path`: a reader or a
// crash sees the old content or the new, never a mix. A regular file that
// is replaced keeps its permission bits, without set-uid, set-gid or sticky;
// anything else at the path (a new file, a symbolic link, which is replaced
// and not followed) gets `new_mode`. With `sync_dir` the
// directory is fsynced as well, so that the rename itself survives a power
// cut. Returns 0, or -errno with `path` untouched and the temporary removed.
int replace_file(const char *path, const void *data, size_t len, mode_t new_mode, bool sync_dir);

// Writes all `len` bytes to `fd`, retrying short writes and EINTR.
// Returns 0 or -errno.
int write_all(int fd, const void *data, size_t len);

// Reads at most `cap` bytes of `fd` into `buf`; `*got` receives the count.
// Returns 0 or -errno. Reading stops at end of file or when `buf` is full.
int read_up_to(int fd, char *buf, size_t cap, size_t *got);

} // namespace platform

#endif
