#include "smb/mount_table.h"

#include <gtest/gtest.h>
#include <string>

namespace {

const char *const kRootLines = "rootfs / rootfs rw 0 0\n"
                               "proc /proc proc rw,relatime 0 0\n"
                               "tmpfs /tmp tmpfs rw,relatime 0 0\n";

std::string cifs_line(const char *unc) {
    return std::string("//srv/music /mnt/mount_cifs cifs ro,relatime,unc=") + unc +
           ",username=admin,domain=,uid=0,noforceuid,addr=192.0.2.7 0 0\n";
}

TEST(MountTable, NothingOnTheMountPoint) {
    EXPECT_EQ(MountPointState::Unmounted, mount_point_state("", "//srv/music"));
    EXPECT_EQ(MountPointState::Unmounted, mount_point_state(kRootLines, "//srv/music"));
    // A mount below the mount point, or a name that merely starts with it,
    // is not the mount point.
    EXPECT_EQ(MountPointState::Unmounted,
              mount_point_state("x /mnt/mount_cifs2 tmpfs rw,unc=\\\\srv\\music 0 0\n"
                                "y /mnt/mount_cifs/sub tmpfs rw 0 0\n",
                                "//srv/music"));
}

TEST(MountTable, SameShareReportedWithBackslashes) {
    std::string table = kRootLines + cifs_line("\\\\srv\\music");
    EXPECT_EQ(MountPointState::SameShare, mount_point_state(table, "//srv/music"));
    // The comparison is exact, case included.
    EXPECT_EQ(MountPointState::OtherShare, mount_point_state(table, "//SRV/music"));
    EXPECT_EQ(MountPointState::OtherShare, mount_point_state(table, "//srv/musi"));
    EXPECT_EQ(MountPointState::OtherShare, mount_point_state(table, "//srv/music2"));
}

TEST(MountTable, WholeTableIsRead) {
    // A router's table easily outgrows a kilobyte; the share mounted after
    // that point must still be found, or it is mounted again on itself.
    std::string table;
    while (table.size() < 8192)
        table += "tmpfs /var/some/long/mount/point tmpfs rw,nosuid,nodev,relatime 0 0\n";
    table += cifs_line("\\\\srv\\music");
    EXPECT_EQ(MountPointState::SameShare, mount_point_state(table, "//srv/music"));
    // ...also when the text ends without a newline.
    table.pop_back();
    EXPECT_EQ(MountPointState::SameShare, mount_point_state(table, "//srv/music"));
}

TEST(MountTable, AnotherShareOrUnknownMountOccupiesIt) {
    EXPECT_EQ(MountPointState::OtherShare,
              mount_point_state(kRootLines + cifs_line("\\\\other\\films"), "//srv/music"));
    // No "unc=" (not a CIFS mount, or a kernel that does not show it):
    // something is there, and it is not known to be our share.
    EXPECT_EQ(MountPointState::OtherShare,
              mount_point_state("tmpfs /mnt/mount_cifs tmpfs rw 0 0\n", "//srv/music"));
    EXPECT_EQ(
        MountPointState::OtherShare,
        mount_point_state("x /mnt/mount_cifs cifs rw,nounc=\\\\srv\\music 0 0\n", "//srv/music"));
}

TEST(MountTable, TopmostOfStackedMountsCounts) {
    std::string table = cifs_line("\\\\srv\\music") + cifs_line("\\\\other\\films");
    EXPECT_EQ(MountPointState::OtherShare, mount_point_state(table, "//srv/music"));
    EXPECT_EQ(MountPointState::SameShare, mount_point_state(table, "//other/films"));
}

TEST(MountTable, UncWithoutUsernameFollowing) {
    // Newer kernels order the options differently.
    EXPECT_EQ(MountPointState::SameShare,
              mount_point_state("//srv/music /mnt/mount_cifs cifs ro,vers=3.0,unc=\\\\srv\\music"
                                ",addr=192.0.2.7 0 0\n",
                                "//srv/music"));
    EXPECT_EQ(MountPointState::SameShare,
              mount_point_state("//srv/music /mnt/mount_cifs cifs ro,unc=\\\\srv\\music 0 0",
                                "//srv/music"));
}

TEST(MountTable, ShareAsOlderAndNewerKernelsPrintIt) {
    // Older kernels print the name unescaped, blanks included.
    EXPECT_EQ(MountPointState::SameShare,
              mount_point_state("//srv/my\\040music /mnt/mount_cifs cifs "
                                "ro,unc=\\\\srv\\my music,username=admin 0 0\n",
                                "//srv/my music"));
    EXPECT_EQ(MountPointState::SameShare,
              mount_point_state("x /mnt/mount_cifs cifs ro,unc=\\\\srv\\my music 0 0\n",
                                "//srv/my music"));
    // Newer ones escape backslashes and blanks as octal.
    EXPECT_EQ(MountPointState::SameShare,
              mount_point_state("x /mnt/mount_cifs cifs ro,vers=3.0,"
                                "unc=\\134\\134srv\\134my\\040music,addr=192.0.2.7 0 0\n",
                                "//srv/my music"));
    EXPECT_EQ(MountPointState::OtherShare,
              mount_point_state("x /mnt/mount_cifs cifs ro,unc=\\134\\134srv\\134films 0 0\n",
                                "//srv/music"));
    // A share whose name starts with digits, printed unescaped.
    EXPECT_EQ(MountPointState::SameShare,
              mount_point_state("x /mnt/mount_cifs cifs ro,unc=\\\\srv\\123 0 0\n", "//srv/123"));
}

} // namespace
