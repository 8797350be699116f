#include "playing_report.h"
#include "stream_bitrate.h"

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

TEST(PlayingReport, ThirdLine) {
    char line[64];
    format_playing_line(128000, "44100", line, sizeof line);
    EXPECT_STREQ("128000,44100", line);
    format_playing_line(0, "44100", line, sizeof line);
    EXPECT_STREQ("0,44100", line);
    format_playing_line(96000, nullptr, line, sizeof line);
    EXPECT_STREQ("96000,0", line);
    format_playing_line(0, nullptr, line, sizeof line);
    EXPECT_STREQ("0,0", line);
}

TEST(PlayingReport, StationBitrateComesFromIrateElseTheStreamsTags) {
    // "/tmp/irate" wins over any tag; a sample rate is never recorded.
    StationBitrate b;
    EXPECT_EQ(b.at_tags(0, 128000, false), std::nullopt);
    EXPECT_EQ(b.at_playing_report(96000), 96000);
    EXPECT_EQ(b.at_playing_report(0), 128000);
    // The nominal bitrate is preferred to the measured one, whichever came
    // first, and a later value replaces an earlier one.
    EXPECT_EQ(b.at_tags(112000, 0, true), std::nullopt);
    EXPECT_EQ(b.at_playing_report(0), 112000);
    EXPECT_EQ(b.at_tags(0, 150000, true), std::nullopt);
    EXPECT_EQ(b.at_playing_report(0), 112000);
    // Beyond int it stays at the largest.
    StationBitrate huge;
    (void)huge.at_tags(0, 3000000000u, false);
    EXPECT_EQ(huge.at_playing_report(0), INT_MAX);
}

TEST(PlayingReport, StationBitrateWaitsForTheFirstTagOncePerReport) {
    StationBitrate b;
    EXPECT_EQ(b.at_playing_report(0), std::nullopt);
    // A tag without a bitrate, or one while paused, is not it.
    EXPECT_EQ(b.at_tags(0, 0, true), std::nullopt);
    EXPECT_EQ(b.at_tags(0, 64000, false), std::nullopt);
    // A resume's report finds it known.
    EXPECT_EQ(b.at_playing_report(0), 64000);
    EXPECT_EQ(b.at_tags(0, 64000, true), std::nullopt);

    StationBitrate late;
    EXPECT_EQ(late.at_playing_report(0), std::nullopt);
    EXPECT_EQ(late.at_tags(0, 128000, true), 128000);
    // Once recorded, later tags wait for the next report.
    EXPECT_EQ(late.at_tags(0, 130000, true), std::nullopt);
    EXPECT_EQ(late.at_tags(112000, 0, true), std::nullopt);
    // "/tmp/irate" at a report cancels any wait.
    StationBitrate irate;
    EXPECT_EQ(irate.at_playing_report(0), std::nullopt);
    EXPECT_EQ(irate.at_playing_report(32000), 32000);
    EXPECT_EQ(irate.at_tags(0, 128000, true), std::nullopt);
}

TEST(PlayingReport, LineIsBoundedByItsBuffer) {
    char line[8];
    memset(line, 'x', sizeof line);
    format_playing_line(INT_MAX, "192000", line, 6);
    EXPECT_EQ('\0', line[5]);
    EXPECT_EQ('x', line[6]);
}

} // namespace
