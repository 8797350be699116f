#include "smb/smb_location.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr std::string_view kScheme = "smb://";
constexpr std::string_view kUserMark = ",usr=";
constexpr std::string_view kPasswordMark = ",pw=";
constexpr std::string_view kFixedOptions = "ro,nounix,noserverino,iocharset=utf8";

// Copies text into a buffer of `size` bytes with a terminator; false if it
// does not fit (the buffer is then left as it was).
bool copy_bounded(char *dst, size_t size, std::string_view text) {
    if (text.size() >= size)
        return false;
    memcpy(dst, text.data(), text.size());
    dst[text.size()] = '\0';
    return true;
}

// Length of the mount command line the player has always built for these
// values; keeping within it keeps every location that worked before working.
size_t mount_command_length(size_t options_len, size_t share_len) {
    // "mount -t cifs -o " OPTIONS " " SHARE " " MOUNT_POINT
    return strlen("mount -t cifs -o ") + options_len + 1 + share_len + 1 + strlen(kSmbMountPoint);
}

} // namespace

SmbParseError parse_smb_location(std::string_view location, SmbLocation *out) {
    size_t at = location.find(kScheme);
    if (at == std::string_view::npos)
        return SmbParseError::NoScheme;
    // "//HOST/SHARE/PATH": the share for mounting starts at the slashes.
    std::string_view rest = location.substr(at + kScheme.size() - 2);
    size_t host_end = rest.find('/', 2);
    if (host_end == std::string_view::npos)
        return SmbParseError::NoShare;
    if (host_end == 2)
        return SmbParseError::NoHost;
    size_t share_end = rest.find('/', host_end + 1);
    if (share_end == std::string_view::npos)
        return SmbParseError::NoPath;
    if (share_end == host_end + 1)
        return SmbParseError::NoShare;
    std::string_view share = rest.substr(0, share_end);
    std::string_view path = rest.substr(share_end + 1);

    std::string_view user, password;
    bool has_credentials = false;
    size_t user_at = path.find(kUserMark);
    if (user_at != std::string_view::npos) {
        std::string_view creds = path.substr(user_at + kUserMark.size());
        path = path.substr(0, user_at);
        size_t pw_at = creds.find(kPasswordMark);
        if (pw_at == std::string_view::npos)
            return SmbParseError::UserWithoutPassword;
        user = creds.substr(0, pw_at);
        password = creds.substr(pw_at + kPasswordMark.size());
        has_credentials = true;
    }
    if (path.empty())
        return SmbParseError::NoPath;
    if (user.find(',') != std::string_view::npos || password.find(',') != std::string_view::npos)
        return SmbParseError::CommaInCredentials;

    SmbLocation result;
    result.has_credentials = has_credentials;
    if (!copy_bounded(result.share, sizeof result.share, share))
        return SmbParseError::TooLong;

    int n = snprintf(result.local_path, sizeof result.local_path, "%s/%.*s", kSmbMountPoint,
                     static_cast<int>(path.size()), path.data());
    if (n < 0 || static_cast<size_t>(n) >= sizeof result.local_path)
        return SmbParseError::TooLong;

    if (has_credentials)
        n = snprintf(result.mount_options, sizeof result.mount_options,
                     "%.*s,username=%.*s,password=%.*s", static_cast<int>(kFixedOptions.size()),
                     kFixedOptions.data(), static_cast<int>(user.size()), user.data(),
                     static_cast<int>(password.size()), password.data());
    else
        n = snprintf(result.mount_options, sizeof result.mount_options, "%.*s,username=admin",
                     static_cast<int>(kFixedOptions.size()), kFixedOptions.data());
    if (n < 0 || static_cast<size_t>(n) >= sizeof result.mount_options)
        return SmbParseError::TooLong;
    if (mount_command_length(static_cast<size_t>(n), share.size()) >= kSmbCommandSize)
        return SmbParseError::TooLong;

    *out = result;
    return SmbParseError::None;
}

const char *smb_parse_error_text(SmbParseError error) {
    switch (error) {
    case SmbParseError::None:
        return "SMB location accepted";
    case SmbParseError::NoScheme:
        return "SMB location must start with \"smb://\"";
    case SmbParseError::NoHost:
        return "SMB location names no host (smb://HOST/SHARE/PATH)";
    case SmbParseError::NoShare:
        return "SMB location names no share (smb://HOST/SHARE/PATH)";
    case SmbParseError::NoPath:
        return "SMB location names no file below the share (smb://HOST/SHARE/PATH)";
    case SmbParseError::UserWithoutPassword:
        return "SMB location has \",usr=\" without \",pw=\"";
    case SmbParseError::CommaInCredentials:
        return "SMB user name or password contains a comma";
    case SmbParseError::TooLong:
        return "SMB location or credentials too long";
    }
    return "SMB location not understood";
}
