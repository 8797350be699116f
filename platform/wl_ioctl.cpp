// Wireless driver requests: private wireless-extensions ioctls on an
// interface, issued through a throw-away datagram socket.
#include "export.h"
#include "shared.h"
#include "unique_fd.h"

#include <errno.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

PLATFORM_EXPORT int wl_ioctl(const char *ifname, int request, struct iwreq *wrq) {
    if (ifname == nullptr || wrq == nullptr)
        return -EINVAL;
    // A cut name could address a different interface ("ra0-long" becoming
    // a real "ra0-lon..."): refuse it before any request leaves.
    size_t len = strnlen(ifname, IFNAMSIZ);
    if (len == 0 || len >= IFNAMSIZ)
        return -EINVAL;
    memset(wrq->ifr_name, 0, sizeof wrq->ifr_name);
    memcpy(wrq->ifr_name, ifname, len);

    platform::UniqueFd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sock.valid())
        return -errno;
    int rc = ::ioctl(sock.get(), static_cast<unsigned long>(request), wrq);
    if (rc < 0)
        return errno > 0 ? -errno : -EIO;
    return rc;
}

PLATFORM_EXPORT int ap_set(const char *ifname, const char *setting) {
    if (setting == nullptr)
        return -EINVAL;
    // The record's length field is 16 bits wide and counts the NUL.
    size_t len = strnlen(setting, 0xFFFF);
    if (len >= 0xFFFF)
        return -E2BIG;
    struct iwreq wrq;
    memset(&wrq, 0, sizeof wrq);
    // The driver only reads a "set" argument; the cast serves the record's
    // non-const pointer type.
    wrq.u.data.pointer = const_cast<char *>(setting);
    wrq.u.data.length = static_cast<__u16>(len + 1);
    wrq.u.data.flags = 0;
    return wl_ioctl(ifname, SIOCIWFIRSTPRIV + 2, &wrq);
}
