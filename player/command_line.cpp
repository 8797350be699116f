#include "command_line.h"

#include <cstdlib>
#include <cstring>
#include <glib.h>

bool parse_command_line(int argc, char *const argv[], CommandLine *out) {
    if (argc == 2) {
        out->location = argv[1];
        out->controller_mode = 0;
        return true;
    }
    if (argc == 3 && strcmp(argv[1], "--kavido") == 0) {
        out->location = argv[2];
        out->controller_mode = 1;
        return true;
    }
    return false;
}

void usage(const char *program) {
    // The text names a pid argument no accepted form takes; the controller's
    // scripts match it as it is, so it stays.
    g_print("Usage: %s url | --kavido pid url\n", program ? program : "sorvel");
    exit(1);
}
