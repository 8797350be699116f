// ostrel AP_IF CLIENT_IF CHANNEL: the repeater's WPS push-button client.
#include "client_names.h"
#include "repeater_wps_client.h"

#include <stdio.h>

int main(int argc, char **argv) {
    if (argc < 4)
        return -1;
    orig_ch = channel_argument(argv[3]);
    // Refused here, while the starter still waits for our exit status.
    if (!format_wsc_file_name(wsc_file_name, sizeof wsc_file_name, argv[2])) {
        fprintf(stderr, "client interface name too long (at most %zu characters): %s\n",
                kClientNameMax, argv[2]);
        return -1;
    }
    repeater_wps_client(argv[1], argv[2]);
    return 0;
}
