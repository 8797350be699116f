// The kernel's mount table as the player reads it, and the share it wants.
#include "fuzz_input.h"
#include "smb/mount_table.h"

#include <memory>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzInput in(data, size);
    const std::string_view share = in.field('\n');
    const std::string_view table = in.rest();
    // The table in a buffer of exactly its size, so a read past it is caught.
    std::unique_ptr<char[]> copy(new char[table.size() + 1]);
    std::memcpy(copy.get(), table.data(), table.size());
    const MountPointState state = mount_point_state({copy.get(), table.size()}, share);
    // Nothing mounted on the mount point can hold any share.
    if (table.find("/mnt/mount_cifs") == std::string_view::npos)
        FUZZ_CHECK(state == MountPointState::Unmounted);
    return 0;
}
