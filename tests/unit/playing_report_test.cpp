#include "playing_report.h"

#include <climits>
#include <cstring>
#include <gtest/gtest.h>

namespace {

TEST(PlayingReport, DurationInWholeSeconds) {
    EXPECT_EQ(0u, duration_seconds(false, false, 0));
    // Without a position the duration is not trusted either.
    EXPECT_EQ(0u, duration_seconds(false, true, 90 * GST_SECOND));
    EXPECT_EQ(0u, duration_seconds(true, false, 90 * GST_SECOND));
    // A live stream: GStreamer's "no time" value.
    EXPECT_EQ(0u, duration_seconds(true, true, -1));
    EXPECT_EQ(0u, duration_seconds(true, true, GST_SECOND - 1));
    EXPECT_EQ(2u, duration_seconds(true, true, 2 * GST_SECOND + GST_SECOND - 1));
    // Longer than 32 bits of seconds survive.
    EXPECT_EQ(5000000000ull, duration_seconds(true, true, 5000000000ll * GST_SECOND));
}

TEST(PlayingReport, IrateIsReadLikeAtoi) {
    EXPECT_EQ(128000, irate_bitrate("128000\n"));
    EXPECT_EQ(128000, irate_bitrate("  128000 bps"));
    EXPECT_EQ(0, irate_bitrate("unknown"));
    EXPECT_EQ(0, irate_bitrate(""));
    EXPECT_EQ(-5, irate_bitrate("-5"));
}

TEST(PlayingReport, ThirdLineAndTheBitrateToRecord) {
    char line[64];
    EXPECT_EQ(128000, format_playing_line(128000, "44100", line, sizeof line));
    EXPECT_STREQ("128000,44100", line);

    // Without a known bitrate the sample rate stands in for it.
    EXPECT_EQ(44100, format_playing_line(0, "44100", line, sizeof line));
    EXPECT_STREQ("0,44100", line);

    EXPECT_EQ(96000, format_playing_line(96000, nullptr, line, sizeof line));
    EXPECT_STREQ("96000,0", line);
    EXPECT_EQ(0, format_playing_line(0, nullptr, line, sizeof line));
    EXPECT_STREQ("0,0", line);
}

TEST(PlayingReport, LineIsBoundedByItsBuffer) {
    char line[8];
    memset(line, 'x', sizeof line);
    format_playing_line(INT_MAX, "192000", line, 6);
    EXPECT_EQ('\0', line[5]);
    EXPECT_EQ('x', line[6]);
}

} // namespace
