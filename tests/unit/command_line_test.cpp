#include "command_line.h"

#include <gtest/gtest.h>

namespace {

bool parse(std::initializer_list<const char *> args, CommandLine *out) {
    char *argv[8] = {};
    int argc = 0;
    for (const char *a : args)
        argv[argc++] = const_cast<char *>(a);
    return parse_command_line(argc, argv, out);
}

TEST(CommandLine, AcceptsThePlainAndTheControllerForm) {
    CommandLine cmd;
    ASSERT_TRUE(parse({"sorvel", "http://h/s"}, &cmd));
    EXPECT_STREQ("http://h/s", cmd.location);
    EXPECT_EQ(0, cmd.controller_mode);

    ASSERT_TRUE(parse({"sorvel", "--kavido", "/media/x.mp3"}, &cmd));
    EXPECT_STREQ("/media/x.mp3", cmd.location);
    EXPECT_EQ(1, cmd.controller_mode);
}

TEST(CommandLine, RefusesEveryOtherFormAndLeavesTheResultAlone) {
    CommandLine cmd;
    cmd.location = "untouched";
    EXPECT_FALSE(parse({"sorvel"}, &cmd));
    EXPECT_FALSE(parse({"sorvel", "-x", "http://h/s"}, &cmd));
    // The option is matched exactly, case included.
    EXPECT_FALSE(parse({"sorvel", "--KAVIDO", "http://h/s"}, &cmd));
    EXPECT_FALSE(parse({"sorvel", "--kavido", "1234", "http://h/s"}, &cmd));
    EXPECT_FALSE(parse({"sorvel", "a", "b", "c", "d"}, &cmd));
    EXPECT_STREQ("untouched", cmd.location);
}

} // namespace
