#include "pid_file.h"

#include <atomic_file.h>

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

bool write_pid_file(const char *path, pid_t pid) {
    char text[16];
    const int len = snprintf(text, sizeof text, "%d", static_cast<int>(pid));
    char tmp[64];
    const int n = snprintf(tmp, sizeof tmp, "%s.XXXXXX", path);
    if (len < 0 || n < 0 || static_cast<size_t>(n) >= sizeof tmp) {
        errno = ENAMETOOLONG;
        return false;
    }
    const int fd = mkstemp(tmp);
    if (fd < 0)
        return false;
    bool ok = fchmod(fd, 0644) == 0 &&
              platform::write_all(fd, text, static_cast<size_t>(len)) == 0 && fsync(fd) == 0;
    int err = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && rename(tmp, path) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        (void)unlink(tmp);
        errno = err;
    }
    return ok;
}
