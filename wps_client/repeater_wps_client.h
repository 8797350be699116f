// The repeater's one-shot WPS push-button client.
#ifndef WPS_CLIENT_REPEATER_WPS_CLIENT_H
#define WPS_CLIENT_REPEATER_WPS_CLIENT_H

#include "client_names.h"

// The channel the radio was on when the client started (its third argument).
extern int orig_ch;
// "/tmp/wsc.<client interface>", set before repeater_wps_client runs.
extern char wsc_file_name[kWscFileNameSize];

// Detaches, writes the pid file and the status file, surveys until exactly
// one push-button access point is listed, configures `client_if` for it and
// mirrors the WSC status until the enrolment ends. Returns when the client's
// work is over, by success or failure.
void repeater_wps_client(const char *ap_if, const char *client_if);

#endif
