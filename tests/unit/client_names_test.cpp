#include "client_names.h"

#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include <string>

namespace {

TEST(ClientNames, PidFileDependsOnTheExactApInterfaceName) {
    EXPECT_STREQ("/var/run/ostrel0.pid", pid_file_path("ra0"));
    EXPECT_STREQ("/var/run/ostrel1.pid", pid_file_path("ra01"));
    EXPECT_STREQ("/var/run/ostrel1.pid", pid_file_path("ra"));
    EXPECT_STREQ("/var/run/ostrel1.pid", pid_file_path("rai0"));
    EXPECT_STREQ("/var/run/ostrel1.pid", pid_file_path(""));
}

TEST(ClientNames, WscFileNameFitsOrIsRefusedWhole) {
    char name[kWscFileNameSize];
    ASSERT_TRUE(format_wsc_file_name(name, sizeof name, "apcli0"));
    EXPECT_STREQ("/tmp/wsc.apcli0", name);

    // No interface name is longer than 15 characters, so a longer one
    // would only ever fail its status queries.
    const std::string longest(15, 'c');
    ASSERT_TRUE(format_wsc_file_name(name, sizeof name, longest.c_str()));
    EXPECT_EQ("/tmp/wsc." + longest, name);

    memcpy(name, "untouched", 10);
    EXPECT_FALSE(format_wsc_file_name(name, sizeof name, std::string(16, 'c').c_str()));
    EXPECT_FALSE(format_wsc_file_name(name, sizeof name, std::string(22, 'c').c_str()));
    EXPECT_FALSE(format_wsc_file_name(name, sizeof name, std::string(300, 'c').c_str()));
    EXPECT_STREQ("untouched", name);

    // A smaller destination bounds it too.
    char small[12];
    EXPECT_FALSE(format_wsc_file_name(small, sizeof small, "apcli0"));
}

TEST(ClientNames, ChannelArgumentReadsLikeAtoi) {
    EXPECT_EQ(6, channel_argument("6"));
    EXPECT_EQ(149, channel_argument("149"));
    EXPECT_EQ(11, channel_argument("  11x"));
    EXPECT_EQ(-3, channel_argument("-3"));
    EXPECT_EQ(0, channel_argument("auto"));
    EXPECT_EQ(0, channel_argument(""));
    EXPECT_EQ(INT_MAX, channel_argument("99999999999999999999"));
    EXPECT_EQ(INT_MIN, channel_argument("-99999999999999999999"));
}

} // namespace
