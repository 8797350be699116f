// An smb:// location from the command line, taken apart for the mount.
#include "fuzz_input.h"
#include "smb/smb_location.h"

#include <cstring>
#include <string>

namespace {

bool terminated(const char *field, std::size_t size) {
    return std::memchr(field, '\0', size) != nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // The program gets it as a C string.
    const std::string text(reinterpret_cast<const char *>(data), size);
    const std::string_view location(text.c_str());
    SmbLocation smb;
    std::memset(&smb, 0x5a, sizeof smb);
    const SmbLocation untouched = smb;
    const SmbParseError error = parse_smb_location(location, &smb);
    FUZZ_CHECK(smb_parse_error_text(error) != nullptr);
    if (error != SmbParseError::None) {
        FUZZ_CHECK(std::memcmp(&smb, &untouched, sizeof smb) == 0);
        return 0;
    }
    FUZZ_CHECK(terminated(smb.share, sizeof smb.share));
    FUZZ_CHECK(terminated(smb.local_path, sizeof smb.local_path));
    FUZZ_CHECK(terminated(smb.mount_options, sizeof smb.mount_options));
    // The share is "//HOST/SHARE" exactly as written after "smb:".
    const std::string_view share(smb.share);
    FUZZ_CHECK(share.size() > 3 && share.substr(0, 2) == "//");
    const std::size_t scheme = location.find("smb://");
    FUZZ_CHECK(location.substr(scheme + 4, share.size()) == share);
    // The file lies below the mount point, and credentials cannot add options.
    const std::string_view path(smb.local_path);
    const std::string_view mount_point(kSmbMountPoint);
    FUZZ_CHECK(path.substr(0, mount_point.size() + 1) == std::string(mount_point) + "/");
    FUZZ_CHECK(path.size() > mount_point.size() + 1);
    const std::string_view options(smb.mount_options);
    std::size_t commas = 0;
    for (char c : options)
        commas += c == ',';
    // Three in the fixed options, then the user name and perhaps the password.
    FUZZ_CHECK(commas == (smb.has_credentials ? 5u : 4u));
    return 0;
}
