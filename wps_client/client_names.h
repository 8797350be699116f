// Names and numbers the client derives from its command line.
#ifndef WPS_CLIENT_CLIENT_NAMES_H
#define WPS_CLIENT_CLIENT_NAMES_H

#include <stddef.h>

// The longest name a Linux interface can have (IFNAMSIZ less its NUL): a
// longer client name can never answer a status query.
constexpr size_t kClientNameMax = 15;
// Room for "/tmp/wsc." and the longest client interface name.
constexpr size_t kWscFileNameSize = 32;

// "/var/run/ostrel0.pid" for the AP interface named exactly "ra0", otherwise
// "/var/run/ostrel1.pid", so a client per radio can run at the same time.
const char *pid_file_path(const char *ap_if);

// Formats "/tmp/wsc.<client_if>" into `dst` (`size` bytes). False, with
// `dst` left untouched, when the name is longer than kClientNameMax or the
// result does not fit.
bool format_wsc_file_name(char *dst, size_t size, const char *client_if);

// The channel argument as atoi() reads it (leading blanks, optional sign,
// digits; 0 without a number), except that a number beyond the int range
// is clamped instead of being undefined.
int channel_argument(const char *text);

#endif
