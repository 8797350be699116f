// What occupies the SMB mount point, judged from the kernel's mount table
// (the whole text of /proc/mounts). Pure: no I/O.
#pragma once

#include <string_view>

enum class MountPointState {
    Unmounted,  // nothing there yet: create the directory, then mount
    SameShare,  // the wanted share is mounted already: nothing to do
    OtherShare, // something else is there: unmount it, then mount
};

// `share` is "//HOST/SHARE"; the kernel reports it after "unc=" with
// backslashes, which are compared as slashes.
MountPointState mount_point_state(std::string_view table, std::string_view share);
