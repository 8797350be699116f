#include "atomic_file.h"

#include "unique_fd.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

int write_all(int fd, const void *data, size_t len) {
    const char *p = static_cast<const char *>(data);
    while (len > 0) {
        ssize_t n = ::write(fd, p, len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -errno;
        }
        if (n == 0)
            return -EIO;
        p += n;
        len -= static_cast<size_t>(n);
    }
    return 0;
}

int read_up_to(int fd, char *buf, size_t cap, size_t *got) {
    size_t have = 0;
    while (have < cap) {
        ssize_t n = ::read(fd, buf + have, cap - have);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -errno;
        }
        if (n == 0)
            break;
        have += static_cast<size_t>(n);
    }
    *got = have;
    return 0;
}

namespace {

int fsync_parent_dir(const char *path) {
    char dir[PATH_MAX];
    const char *slash = strrchr(path, '/');
    if (slash == nullptr) {
        dir[0] = '.';
        dir[1] = '\0';
    } else {
        size_t len = slash == path ? 1 : static_cast<size_t>(slash - path);
        if (len >= sizeof dir)
            return -ENAMETOOLONG;
        memcpy(dir, path, len);
        dir[len] = '\0';
    }
    UniqueFd fd(::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        return -errno;
    if (::fsync(fd.get()) != 0 && errno != EINVAL)
        return -errno;
    return 0;
}

} // namespace

int replace_file(const char *path, const void *data, size_t len, mode_t new_mode, bool sync_dir) {
    if (path == nullptr || path[0] == '\0' || (data == nullptr && len > 0))
        return -EINVAL;

    // Only a regular file at the path itself lends its mode: a link planted
    // there must not make us create a set-uid file (or fail on a directory
    // it points to), and a replaced file never keeps privilege bits.
    mode_t mode = new_mode;
    struct stat st;
    if (::lstat(path, &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return -EISDIR;
        if (S_ISREG(st.st_mode))
            mode = st.st_mode & 0777;
    }

    char tmp[PATH_MAX];
    int n = snprintf(tmp, sizeof tmp, "%s%sXXXXXX", path, kTemporaryInfix);
    if (n < 0 || static_cast<size_t>(n) >= sizeof tmp)
        return -ENAMETOOLONG;

    UniqueFd fd(::mkostemp(tmp, O_CLOEXEC));
    if (!fd.valid())
        return -errno;

    int rc = write_all(fd.get(), data, len);
    if (rc == 0 && ::fchmod(fd.get(), mode) != 0)
        rc = -errno;
    if (rc == 0 && ::fsync(fd.get()) != 0)
        rc = -errno;
    // close() can report a deferred write error (NFS, full disk on some file
    // systems); a replacement that lost data must not be renamed into place.
    if (rc == 0 && ::close(fd.release()) != 0)
        rc = -errno;
    if (rc == 0 && ::rename(tmp, path) != 0)
        rc = -errno;
    if (rc != 0) {
        (void)::unlink(tmp);
        return rc;
    }
    return sync_dir ? fsync_parent_dir(path) : 0;
}

} // namespace platform
