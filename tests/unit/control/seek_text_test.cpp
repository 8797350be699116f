#include "player/control/seek_text.h"

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

// The helper must agree with the C library's atoll byte for byte: the
// controller has always been read that way.
TEST(AtollCompatible, AgreesWithTheCLibrary) {
    const char *cases[] = {
        "90",
        "  \t\n\v\f\r42",
        "+7",
        "-15",
        "12abc",
        "abc12",
        "",
        "-",
        "+",
        " - 3",
        "--3",
        "0009",
        "4294967386",
        "9223372036854775807",
        "9223372036854775808",
        "99999999999999999999999",
        "-9223372036854775808",
        "-9223372036854775809",
        "-99999999999999999999999",
        "1 2",
        "3.9",
        "0x10",
    };
    for (const char *text : cases) {
        EXPECT_EQ(atoll_compatible(text), std::atoll(text)) << '"' << text << '"';
    }
}

TEST(AtollCompatible, StopsAtTheEndOfTheViewOrAtANul) {
    const std::string digits = "123456";
    EXPECT_EQ(atoll_compatible(std::string_view(digits).substr(0, 3)), 123);
    const std::string with_nul("12\0"
                               "34",
                               5);
    EXPECT_EQ(atoll_compatible(with_nul), 12);
}

TEST(SeekSecondsFromText, ControllerFormats) {
    EXPECT_EQ(seek_seconds_from_text("90\r\n"), 90);
    EXPECT_EQ(seek_seconds_from_text("90\n"), 90);
    EXPECT_EQ(seek_seconds_from_text("90"), 90);
    EXPECT_EQ(seek_seconds_from_text(" 90\r\n\r\n"), 90);
}

TEST(SeekSecondsFromText, NothingReadIsNoRequestButNoDigitsIsZero) {
    EXPECT_EQ(seek_seconds_from_text(""), std::nullopt);
    EXPECT_EQ(seek_seconds_from_text("\r\n"), 0);
    EXPECT_EQ(seek_seconds_from_text("abc"), 0);
}

TEST(SeekSecondsFromText, KeepsOnlyTheLow32Bits) {
    EXPECT_EQ(seek_seconds_from_text("4294967386"), 90); // 2^32 + 90
    EXPECT_EQ(seek_seconds_from_text("4294967296"), 0);
    EXPECT_EQ(seek_seconds_from_text("2147483647"), 2147483647);
    EXPECT_EQ(seek_seconds_from_text("2147483648"), -2147483647 - 1);
    EXPECT_EQ(seek_seconds_from_text("4294967295"), -1);
    EXPECT_EQ(seek_seconds_from_text("-5"), -5);
    // Saturated at LLONG_MAX, whose low 32 bits are all ones.
    EXPECT_EQ(seek_seconds_from_text("99999999999999999999999"), -1);
}

TEST(SeekSecondsFromText, OnlyTheFirstHundredBytesCount) {
    // 99 spaces then digits: the first digit is byte 100, the rest is cut.
    std::string text(99, ' ');
    text += "12345";
    EXPECT_EQ(seek_seconds_from_text(text), 1);
    // Digits that go on past byte 100 are cut there.
    std::string zeros(98, '0');
    zeros += "42";
    zeros += "999";
    EXPECT_EQ(seek_seconds_from_text(zeros), 42);
}
