// The WSC status of the client interface and its mirror in the status file.
#ifndef WPS_CLIENT_WSC_STATUS_H
#define WPS_CLIENT_WSC_STATUS_H

// The status code that ends the watch.
constexpr int kWscStatusDone = 34;
// The code the status file holds from start-up until the first change.
constexpr int kWscStatusInitial = 3;

// One status query on `ifname`. On a failed request prints the error and
// returns whatever the driver left in the status word (0 if it wrote none).
int getWscStatus(const char *ifname);

// Queries `client_if` back to back until the code 34, rewriting
// `status_file` each time the code differs from the one last written.
void watch_wsc_status(const char *client_if, const char *status_file);

#endif
