// The two command lines the player accepts:
//   sorvel LOCATION            plays LOCATION
//   sorvel --kavido LOCATION   plays it under the controlling media player
#pragma once

struct CommandLine {
    const char *location = nullptr;
    int controller_mode = 0;
};

// False for every other form (caller prints the usage text and exits 1).
bool parse_command_line(int argc, char *const argv[], CommandLine *out);

// Prints "Usage: %s url | --kavido pid url" and exits with status 1.
[[noreturn]] void usage(const char *program);
