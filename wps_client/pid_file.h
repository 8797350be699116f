// The client's pid file.
#ifndef WPS_CLIENT_PID_FILE_H
#define WPS_CLIENT_PID_FILE_H

#include <sys/types.h>

// Replaces `path` with the decimal `pid` (no newline): written to a
// temporary file beside it and renamed over it, so a reader never sees an
// empty file and a symlink planted at `path` is replaced, not followed.
// Returns false with errno set on failure.
bool write_pid_file(const char *path, pid_t pid);

#endif
