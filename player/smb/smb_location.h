// smb://HOST/SHARE/PATH[,usr=USER,pw=PASSWORD] taken apart into what the
// mount and the file source need. Pure: no I/O.
#pragma once

#include <cstddef>
#include <string_view>

inline constexpr const char *kSmbMountPoint = "/mnt/mount_cifs";

// Sizes the player has always worked within: the local path buffer, and the
// longest mount command line it ever built. Longer input is refused, never cut.
inline constexpr size_t kSmbLocalPathSize = 128;
inline constexpr size_t kSmbCommandSize = 256;

struct SmbLocation {
    char share[kSmbCommandSize];         // "//HOST/SHARE"
    char local_path[kSmbLocalPathSize];  // "/mnt/mount_cifs/PATH"
    char mount_options[kSmbCommandSize]; // value of "mount -o"
    bool has_credentials;
};

enum class SmbParseError {
    None,
    NoScheme,            // "smb://" (lower case) missing
    NoHost,              // nothing between "smb://" and the next "/"
    NoShare,             // no "/SHARE/" after the host
    NoPath,              // nothing below the share
    UserWithoutPassword, // ",usr=" without a following ",pw="
    CommaInCredentials,  // would smuggle extra options into "mount -o"
    TooLong,             // path or mount command would not fit
};

// Fills *out only on success.
SmbParseError parse_smb_location(std::string_view location, SmbLocation *out);

// One line for standard error, e.g. "SMB location has no share".
const char *smb_parse_error_text(SmbParseError error);
