#include "smb/mount_table.h"

#include "smb/smb_location.h"

#include <cstddef>

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// Field `index` (0-based) of a whitespace-separated mount table line.
std::string_view field(std::string_view line, int index) {
    size_t pos = 0;
    for (int i = 0;; ++i) {
        while (pos < line.size() && is_blank(line[pos]))
            ++pos;
        size_t end = pos;
        while (end < line.size() && !is_blank(line[end]))
            ++end;
        if (i == index || end == pos)
            return line.substr(pos, end - pos);
        pos = end;
    }
}

// The options of a mount table line: everything after the file system type
// except the two numbers at the end. Not just the fourth field: older kernels
// print the share in "unc=" unescaped, blanks included.
std::string_view options_of(std::string_view line) {
    size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        while (pos < line.size() && is_blank(line[pos]))
            ++pos;
        while (pos < line.size() && !is_blank(line[pos]))
            ++pos;
    }
    while (pos < line.size() && is_blank(line[pos]))
        ++pos;
    std::string_view rest = line.substr(pos);
    for (int i = 0; i < 2; ++i) {
        while (!rest.empty() && is_blank(rest.back()))
            rest.remove_suffix(1);
        size_t start = rest.size();
        while (start > 0 && rest[start - 1] >= '0' && rest[start - 1] <= '9')
            --start;
        if (start == rest.size() || start == 0 || !is_blank(rest[start - 1]))
            break;
        rest = rest.substr(0, start);
    }
    while (!rest.empty() && is_blank(rest.back()))
        rest.remove_suffix(1);
    return rest;
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

bool is_octal(char c) {
    return c >= '0' && c <= '7';
}

// Compares the kernel's "\\HOST\SHARE" with "//HOST/SHARE". Kernels differ:
// older ones print the name as it is, newer ones escape backslashes, blanks
// and line ends as "\ooo" octal. `decode` picks the second reading.
bool same_share_as(std::string_view unc, std::string_view share, bool decode) {
    size_t at = 0;
    for (size_t i = 0; i < unc.size(); ++i, ++at) {
        char c = unc[i];
        if (decode && c == '\\' && i + 3 < unc.size() && is_octal(unc[i + 1]) &&
            is_octal(unc[i + 2]) && is_octal(unc[i + 3])) {
            c = static_cast<char>((unc[i + 1] - '0') * 64 + (unc[i + 2] - '0') * 8 +
                                  (unc[i + 3] - '0'));
            i += 3;
        }
        if (c == '\\')
            c = '/';
        if (at >= share.size() || c != share[at])
            return false;
    }
    return at == share.size();
}

bool same_share(std::string_view unc, std::string_view share) {
    return same_share_as(unc, share, false) || same_share_as(unc, share, true);
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
            options = options_of(line);
        }
    }
    if (!found)
        return MountPointState::Unmounted;
    std::string_view unc = unc_of(options);
    if (!unc.empty() && same_share(unc, share))
        return MountPointState::SameShare;
    return MountPointState::OtherShare;
}
