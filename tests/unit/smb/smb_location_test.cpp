#include "smb/smb_location.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

TEST(SmbLocation, PlainLocationMountsAsAdmin) {
    SmbLocation smb;
    ASSERT_EQ(SmbParseError::None, parse_smb_location("smb://srv/music/a/b.mp3", &smb));
    EXPECT_STREQ("//srv/music", smb.share);
    EXPECT_STREQ("/mnt/mount_cifs/a/b.mp3", smb.local_path);
    EXPECT_STREQ("ro,nounix,noserverino,iocharset=utf8,username=admin", smb.mount_options);
    EXPECT_FALSE(smb.has_credentials);
}

TEST(SmbLocation, CredentialsAtTheEndAreTakenOffThePath) {
    SmbLocation smb;
    ASSERT_EQ(SmbParseError::None,
              parse_smb_location("smb://srv/music/a b/c.mp3,usr=joe,pw=s3cr=t", &smb));
    EXPECT_STREQ("//srv/music", smb.share);
    EXPECT_STREQ("/mnt/mount_cifs/a b/c.mp3", smb.local_path);
    EXPECT_STREQ("ro,nounix,noserverino,iocharset=utf8,username=joe,password=s3cr=t",
                 smb.mount_options);
    EXPECT_TRUE(smb.has_credentials);
}

TEST(SmbLocation, ShellTextStaysPlainData) {
    // Nothing is quoted or interpreted: the text reaches mount as one
    // argument, so it can do no harm there.
    SmbLocation smb;
    ASSERT_EQ(SmbParseError::None,
              parse_smb_location("smb://h/s/x.mp3,usr=a;reboot;,pw=b$(id)", &smb));
    EXPECT_STREQ("ro,nounix,noserverino,iocharset=utf8,username=a;reboot;,password=b$(id)",
                 smb.mount_options);
    EXPECT_STREQ("/mnt/mount_cifs/x.mp3", smb.local_path);
}

TEST(SmbLocation, MalformedLocationsAreRefused) {
    struct Case {
        const char *location;
        SmbParseError error;
    } cases[] = {
        {"SMB://srv/music/a.mp3", SmbParseError::NoScheme},
        {"smb:/srv/music/a.mp3", SmbParseError::NoScheme},
        {"smb://srv", SmbParseError::NoShare},
        {"smb:///music/a.mp3", SmbParseError::NoHost},
        {"smb://srv//a.mp3", SmbParseError::NoShare},
        {"smb://srv/music", SmbParseError::NoPath},
        {"smb://srv/music/", SmbParseError::NoPath},
        {"smb://srv/music/,usr=a,pw=b", SmbParseError::NoPath},
        {"smb://srv/music/a.mp3,usr=joe", SmbParseError::UserWithoutPassword},
        {"smb://srv/music/a.mp3,pw=x,usr=joe", SmbParseError::UserWithoutPassword},
        // A comma would add options of the caller's choosing to "mount -o".
        {"smb://srv/music/a.mp3,usr=joe,uid=0,pw=x", SmbParseError::CommaInCredentials},
        {"smb://srv/music/a.mp3,usr=joe,pw=x,gid=0", SmbParseError::CommaInCredentials},
    };
    for (const Case &c : cases) {
        SmbLocation smb;
        memset(&smb, 0x5a, sizeof smb);
        EXPECT_EQ(c.error, parse_smb_location(c.location, &smb)) << c.location;
        EXPECT_EQ(0x5a, static_cast<unsigned char>(smb.local_path[0])) << c.location;
    }
}

TEST(SmbLocation, TooLongIsRefusedNotCut) {
    SmbLocation smb;
    const std::string prefix = "smb://srv/music/";
    // The local path buffer holds 127 characters: the mount point, a slash
    // and 111 more.
    std::string fits = prefix + std::string(127 - strlen("/mnt/mount_cifs/"), 'p');
    ASSERT_EQ(SmbParseError::None, parse_smb_location(fits, &smb));
    EXPECT_EQ(127u, strlen(smb.local_path));
    EXPECT_EQ(SmbParseError::TooLong, parse_smb_location(fits + "p", &smb));

    // The whole mount command must fit in 255 characters, share included.
    const std::string fixed = "mount -t cifs -o ro,nounix,noserverino,iocharset=utf8,username=,"
                              "password= //srv/music /mnt/mount_cifs";
    std::string user(255 - fixed.size(), 'u');
    std::string ok = "smb://srv/music/a.mp3,usr=" + user + ",pw=";
    EXPECT_EQ(SmbParseError::None, parse_smb_location(ok, &smb));
    EXPECT_EQ(SmbParseError::TooLong, parse_smb_location(ok + "x", &smb));

    std::string long_host = "smb://" + std::string(300, 'h') + "/music/a.mp3";
    EXPECT_EQ(SmbParseError::TooLong, parse_smb_location(long_host, &smb));
}

} // namespace
