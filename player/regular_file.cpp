#include "regular_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FILE *open_regular_file(const char *path, bool for_update, LinkAtPath links) {
    const int fd = open(path, (for_update ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC |
                                  (links == LinkAtPath::refuse ? O_NOFOLLOW : 0));
    if (fd < 0)
        return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        (void)close(fd);
        errno = EINVAL;
        return nullptr;
    }
    FILE *f = fdopen(fd, for_update ? "r+" : "r");
    if (f == nullptr)
        (void)close(fd);
    return f;
}
