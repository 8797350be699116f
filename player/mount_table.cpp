#include "mount_table.h"

#include "smb_location.h"

#include <cstddef>

namespace {

// Field `index` (0-based) of a whitespace-separated mount table line.
std::string_view field(std::string_view line, int index) {
    size_t pos = 0;
    for (int i = 0;; ++i) {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
            ++pos;
        size_t end = pos;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t')
            ++end;
        if (i == index || end == pos)
            return line.substr(pos, end - pos);
        pos = end;
    }
}

// The share named by "unc=" in a mount's options. Up to ",username=" when
// that follows (a share name may hold a comma), else up to the next option.
std::string_view unc_of(std::string_view options) {
    constexpr std::string_view kUnc = "unc=";
    size_t at = options.find(kUnc);
    // Only a whole option counts ("nounc=" or similar must not match).
    while (at != std::string_view::npos && at != 0 && options[at - 1] != ',')
        at = options.find(kUnc, at + 1);
    if (at == std::string_view::npos)
        return {};
    std::string_view value = options.substr(at + kUnc.size());
    size_t end = value.find(",username=");
    if (end == std::string_view::npos)
        end = value.find(',');
    return value.substr(0, end);
}

bool same_share(std::string_view unc, std::string_view share) {
    if (unc.size() != share.size())
        return false;
    for (size_t i = 0; i < unc.size(); ++i) {
        char c = unc[i] == '\\' ? '/' : unc[i];
        if (c != share[i])
            return false;
    }
    return true;
}

} // namespace

MountPointState mount_point_state(std::string_view table, std::string_view share) {
    // Mounts stack; the last line for the mount point is the one whose files
    // a path below it reaches.
    bool found = false;
    std::string_view options;
    while (!table.empty()) {
        size_t eol = table.find('\n');
        std::string_view line = table.substr(0, eol);
        table = eol == std::string_view::npos ? std::string_view() : table.substr(eol + 1);
        if (field(line, 1) == kSmbMountPoint) {
            found = true;
            options = field(line, 3);
        }
    }
    if (!found)
        return MountPointState::Unmounted;
    std::string_view unc = unc_of(options);
    if (!unc.empty() && same_share(unc, share))
        return MountPointState::SameShare;
    return MountPointState::OtherShare;
}
