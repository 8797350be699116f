// Room in /tmp that the player holds from start-up for the status, duration
// and position files, so that a /tmp that fills up during the run (another
// program writing a log, say) never leaves them empty, cut or stale.
//
// A report normally goes to a fresh temporary that is renamed over the file.
// When /tmp has no room for that temporary, the report is written into a
// spare copy of the file made at start-up and renamed over the file the
// same way; the file's previous copy, blocks and all, becomes the spare for
// the next report (hard-linked into the reserve before the rename). So the
// room the reports use is never given back to the file system while the run
// lasts, and a reader still sees the old text or the new one, whole.
//
// The spares live in a private directory below /tmp (mode 0700, made with
// mkdtemp), so that their fixed names cannot be planted by anyone else; two
// per file, so that a file's first report can take one while the other
// stays. Everything is removed at every orderly end of the run.
#pragma once

#include <cstddef>

struct FilePiece {
    const char *data;
    size_t len;
};

// Makes the reserve: for the status file room for `status_max` bytes, for the
// duration and position files room for any number they can hold. Does
// nothing when it cannot be made whole (/tmp already full): reports then
// reach their files only while there is room for a temporary.
void reserve_report_space(size_t status_max);

// Writes the pieces to `path` through its spare. True when `path` now holds
// them; false (and `path` as it was) when `path` has no spare, the spare has
// too little room, or the reserve is in use by another thread.
bool replace_from_reserve(const char *path, const FilePiece *pieces, size_t count);

// Removes the reserve. Only after the final status, once no other thread
// writes reports any more.
void release_report_space();
