#include "client_names.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char *pid_file_path(const char *ap_if) {
    return strcmp(ap_if, "ra0") == 0 ? "/var/run/ostrel0.pid" : "/var/run/ostrel1.pid";
}

bool format_wsc_file_name(char *dst, size_t size, const char *client_if) {
    if (strnlen(client_if, kClientNameMax + 1) > kClientNameMax)
        return false;
    char name[kWscFileNameSize];
    const int n = snprintf(name, sizeof name, "/tmp/wsc.%s", client_if);
    if (n < 0 || static_cast<size_t>(n) >= sizeof name || static_cast<size_t>(n) >= size)
        return false;
    memcpy(dst, name, static_cast<size_t>(n) + 1);
    return true;
}

int channel_argument(const char *text) {
    // strtol is atoi with defined behaviour on overflow.
    const long v = strtol(text, nullptr, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}
