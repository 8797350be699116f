// wl_ioctl and ap_set down to the ioctl() they issue. This executable
// defines ioctl() itself, which the dynamic linker binds libshared.so's
// call to, so each request is seen exactly as the driver would get it.
#include "shared.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdarg.h>
#include <string.h>
#include <sys/socket.h>

#include <string>

namespace {

struct Seen {
    int calls = 0;
    int fd = -1;
    int domain = -1;
    int type = -1;
    unsigned long request = 0;
    char name[IFNAMSIZ + 1] = {};
    void *pointer = nullptr;
    unsigned length = 0;
    unsigned flags = 0;
    std::string data;
};

Seen seen;
int reply_result = 0;
int reply_errno = 0;

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    auto *wrq = va_arg(ap, struct iwreq *);
    va_end(ap);
    ++seen.calls;
    seen.fd = fd;
    socklen_t len = sizeof seen.domain;
    (void)getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &seen.domain, &len);
    len = sizeof seen.type;
    (void)getsockopt(fd, SOL_SOCKET, SO_TYPE, &seen.type, &len);
    seen.request = request;
    memcpy(seen.name, wrq->ifr_name, IFNAMSIZ);
    seen.pointer = wrq->u.data.pointer;
    seen.length = wrq->u.data.length;
    seen.flags = wrq->u.data.flags;
    if (wrq->u.data.pointer != nullptr && wrq->u.data.length > 0)
        seen.data.assign(static_cast<const char *>(wrq->u.data.pointer), wrq->u.data.length);
    if (reply_result < 0)
        errno = reply_errno;
    return reply_result;
}

namespace {

class WirelessRequest : public testing::Test {
  protected:
    void SetUp() override {
        seen = Seen{};
        reply_result = 0;
        reply_errno = 0;
    }
};

TEST_F(WirelessRequest, ApSetSendsThePrivateSetRequest) {
    const char setting[] = "ApCliWscScanMode=2";
    ASSERT_EQ(ap_set("apcli0", setting), 0);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.request, 0x8BE2ul);
    EXPECT_EQ(memcmp(seen.name, "apcli0\0\0\0\0\0\0\0\0\0\0", IFNAMSIZ), 0);
    EXPECT_EQ(seen.pointer, static_cast<const void *>(setting));
    EXPECT_EQ(seen.length, sizeof setting); // the text and its NUL
    EXPECT_EQ(seen.data, std::string(setting, sizeof setting));
    EXPECT_EQ(seen.flags, 0u);
    EXPECT_EQ(seen.domain, AF_INET);
    EXPECT_EQ(seen.type, SOCK_DGRAM);
    // The socket is the request's own: closed once it is answered.
    EXPECT_EQ(fcntl(seen.fd, F_GETFD), -1);
}

TEST_F(WirelessRequest, WlIoctlFillsOnlyTheNameAndPassesTheResultBack) {
    char buf[64] = "survey";
    struct iwreq wrq;
    memset(&wrq, 0xA5, sizeof wrq); // a caller's record may hold old bytes
    wrq.u.data.pointer = buf;
    wrq.u.data.length = sizeof buf;
    wrq.u.data.flags = 7;
    reply_result = 3;
    EXPECT_EQ(wl_ioctl("ra0", 0x8BED, &wrq), 3);
    EXPECT_EQ(seen.request, 0x8BEDul);
    EXPECT_EQ(memcmp(seen.name, "ra0\0\0\0\0\0\0\0\0\0\0\0\0\0", IFNAMSIZ), 0);
    EXPECT_EQ(seen.pointer, static_cast<void *>(buf));
    EXPECT_EQ(seen.length, sizeof buf);
    EXPECT_EQ(seen.flags, 7u);

    reply_result = -1;
    reply_errno = EOPNOTSUPP;
    EXPECT_EQ(wl_ioctl("ra0", 0x8BE1, &wrq), -EOPNOTSUPP);
    EXPECT_LT(ap_set("ra0", "Channel=6"), 0);
}

TEST_F(WirelessRequest, NamesThatDoNotFitFailWithoutARequest) {
    struct iwreq wrq;
    memset(&wrq, 0, sizeof wrq);
    ASSERT_EQ(wl_ioctl("fifteen_chars_x", 0x8BE1, &wrq), 0); // IFNAMSIZ - 1 fits
    EXPECT_EQ(memcmp(seen.name, "fifteen_chars_x", IFNAMSIZ), 0);
    EXPECT_EQ(seen.calls, 1);

    EXPECT_LT(wl_ioctl("sixteen_chars_xx", 0x8BE1, &wrq), 0);
    EXPECT_LT(wl_ioctl("", 0x8BE1, &wrq), 0);
    EXPECT_LT(wl_ioctl(nullptr, 0x8BE1, &wrq), 0);
    EXPECT_LT(wl_ioctl("ra0", 0x8BE1, nullptr), 0);
    EXPECT_LT(ap_set("a_very_long_interface", "Channel=6"), 0);
    EXPECT_LT(ap_set("ra0", nullptr), 0);
    EXPECT_EQ(seen.calls, 1);
}

} // namespace
