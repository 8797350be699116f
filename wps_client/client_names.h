// Names and numbers the client derives from its command line.
#ifndef WPS_CLIENT_CLIENT_NAMES_H
#define WPS_CLIENT_CLIENT_NAMES_H

#include <stddef.h>

// Room for "/tmp/wsc." and a client interface name of up to 22 characters.
constexpr size_t kWscFileNameSize = 32;

// "/var/run/ostrel0.pid" for the AP interface named exactly "ra0", otherwise
// "/var/run/ostrel1.pid", so a client per radio can run at the same time.
const char *pid_file_path(const char *ap_if);

// Formats "/tmp/wsc.<client_if>" into `dst` (`size` bytes). False, with
// `dst` left untouched, when the name does not fit.
bool format_wsc_file_name(char *dst, size_t size, const char *client_if);

// The channel argument as atoi() reads it (leading blanks, optional sign,
// digits; 0 without a number), except that a number beyond the int range
// is clamped instead of being undefined.
int channel_argument(const char *text);

#endif
