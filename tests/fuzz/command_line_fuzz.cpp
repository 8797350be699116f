// Both programs' command lines: the player's arguments and the location's
// way to its source, and the WPS client's interface names and channel.
#include "client_names.h"
#include "command_line.h"
#include "fuzz_input.h"
#include "smb/smb_location.h"
#include "source_selection.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // Arguments are NUL-separated, as the kernel hands them over.
    std::vector<std::string> args;
    FuzzInput in(data, size);
    while (!in.rest().empty() && args.size() < 6)
        args.emplace_back(in.field('\0'));
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>("sorvel"));
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(argv.size() - 1);

    CommandLine command;
    if (parse_command_line(argc, argv.data(), &command)) {
        FUZZ_CHECK(command.location == argv[argc - 1]);
        FUZZ_CHECK(command.controller_mode == (argc == 3));
        const SourceChoice choice = select_source(command.location);
        FUZZ_CHECK(choice.factory != nullptr);
        if (choice.kind == SourceKind::Smb) {
            SmbLocation smb;
            (void)parse_smb_location(command.location, &smb);
        }
        (void)select_redirect_source(command.location);
    }

    // ostrel AP_IF CLIENT_IF CHANNEL, from the same arguments.
    const char *ap_if = argc > 1 ? argv[1] : "";
    const char *client_if = argc > 2 ? argv[2] : "";
    const char *channel = argc > 3 ? argv[3] : "";
    FUZZ_CHECK(pid_file_path(ap_if) != nullptr);
    char name[kWscFileNameSize];
    std::memset(name, 0x5a, sizeof name);
    if (format_wsc_file_name(name, sizeof name, client_if)) {
        FUZZ_CHECK(std::memchr(name, '\0', sizeof name) != nullptr);
        FUZZ_CHECK(std::string("/tmp/wsc.") + client_if == name);
    } else {
        for (char c : name)
            FUZZ_CHECK(c == 0x5a);
    }
    // atoi's reading, clamped rather than undefined beyond the int range.
    const long long wide = std::strtoll(channel, nullptr, 10);
    const long long clamped = wide > INT_MAX ? INT_MAX : wide < INT_MIN ? INT_MIN : wide;
    FUZZ_CHECK(channel_argument(channel) == clamped);
    return 0;
}
