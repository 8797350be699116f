// Opening files that other components of the router write, where anyone may
// have put something else in their place: a FIFO nobody writes to would
// block the main loop on its first read, a device would be read or written.
#pragma once

#include <cstdio>

enum class LinkAtPath {
    refuse, // in /tmp: a planted link may point at a file only root may read
    follow, // a station list may well be a link to writable storage
};

// Opens `path` for reading, or for reading and writing with `for_update`,
// only when it is (or, with LinkAtPath::follow, leads to) a regular file.
// Never blocks. Null (errno set) for anything else.
FILE *open_regular_file(const char *path, bool for_update, LinkAtPath links);
