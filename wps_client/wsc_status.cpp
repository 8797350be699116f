#include "wsc_status.h"

#include "shared.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace {
constexpr int kWscStatusRequest = SIOCIWFIRSTPRIV + 1;
constexpr uint16_t kWscStatusFlags = 0x0751;
} // namespace

// Runs at the driver's pace with no pause in between: nothing here may
// allocate or touch the file system.
int getWscStatus(const char *ifname) {
    int32_t status = 0;
    struct iwreq wrq;
    memset(&wrq, 0, sizeof wrq);
    wrq.u.data.pointer = &status;
    wrq.u.data.length = sizeof status;
    wrq.u.data.flags = kWscStatusFlags;
    if (wl_ioctl(ifname, kWscStatusRequest, &wrq) < 0)
        fputs("errors in getting WSC status\n", stderr);
    return status;
}

void watch_wsc_status(const char *client_if, const char *status_file) {
    int last = kWscStatusInitial;
    for (;;) {
        const int status = getWscStatus(client_if);
        if (status != last) {
            last = status;
            // "-2147483648" and its NUL fit.
            char text[12];
            snprintf(text, sizeof text, "%d", status);
            (void)writefile(status_file, text);
        }
        if (status == kWscStatusDone)
            return;
    }
}
