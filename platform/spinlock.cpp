// Platform-wide locks by number, shared by every process on the router.
//
// Lock n is an exclusive flock on "/var/run/spinlock.<n>.lock". flock ties
// the lock to the open file: the kernel releases it when the holder dies,
// however it dies, so a crashed holder never wedges the others. The file
// itself is never removed (removing it would let two processes lock two
// different files of the same name).
#include "export.h"
#include "shared.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Lock numbers a process may hold; the programs use 1.
constexpr int kMaxLocks = 64;

// Descriptor holding lock n, plus one, so that zero (the start-up value)
// means "not held". Callers use locks from one thread.
int held_fd_plus_one[kMaxLocks];

} // namespace

PLATFORM_EXPORT int spinlock_lock(int n) {
    if (n < 0 || n >= kMaxLocks)
        return -EINVAL;
    // flock locks belong to open files: a second open in this process would
    // wait for itself for ever.
    if (held_fd_plus_one[n] != 0)
        return -EDEADLK;
    char path[48];
    int len = snprintf(path, sizeof path, "/var/run/spinlock.%d.lock", n);
    if (len < 0 || static_cast<size_t>(len) >= sizeof path)
        return -ENAMETOOLONG;
    // O_CLOEXEC: a program started by the holder must not keep the lock.
    int fd = ::open(path, O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return -errno;
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            int err = errno;
            (void)::close(fd);
            return -err;
        }
    }
    held_fd_plus_one[n] = fd + 1;
    return 0;
}

PLATFORM_EXPORT int spinlock_unlock(int n) {
    if (n < 0 || n >= kMaxLocks)
        return -EINVAL;
    if (held_fd_plus_one[n] == 0)
        return -ENOLCK;
    int fd = held_fd_plus_one[n] - 1;
    held_fd_plus_one[n] = 0;
    // Unlock explicitly rather than by close alone: a child forked while the
    // lock was held shares the open file and would otherwise keep it locked.
    int rc = ::flock(fd, LOCK_UN) == 0 ? 0 : -errno;
    (void)::close(fd);
    return rc;
}
