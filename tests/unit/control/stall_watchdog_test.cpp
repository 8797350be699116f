#include "player/control/stall_watchdog.h"

#include <gtest/gtest.h>

namespace {

constexpr std::int64_t kSecond = 1000000000;

PositionSample playing_at(std::int64_t seconds) {
    return PositionSample{true, seconds * kSecond, true};
}

PositionSample paused_at(std::int64_t seconds) {
    return PositionSample{true, seconds * kSecond, false};
}

PositionSample failed_query(bool playing = true) {
    return PositionSample{false, 0, playing};
}

// Runs ticks standing at `seconds` until the watchdog stops the run; returns
// how many ticks that took (0 if it never did within `max_ticks`).
int ticks_until_stall(StallCounters &c, std::int64_t seconds, int max_ticks = 100) {
    for (int tick = 1; tick <= max_ticks; ++tick) {
        if (stall_watchdog_tick(c, playing_at(seconds)).stalled) {
            return tick;
        }
    }
    return 0;
}

} // namespace

TEST(StallWatchdog, PositionFileWaitsForTheFirstWholeSecond) {
    StallCounters c;
    TickDecision d = stall_watchdog_tick(c, PositionSample{true, kSecond - 1, true});
    EXPECT_FALSE(d.write_position);
    EXPECT_EQ(c.position_seen, 0);

    d = stall_watchdog_tick(c, playing_at(1));
    EXPECT_TRUE(d.write_position);
    EXPECT_EQ(d.position_seconds, 1);

    // From then on it is written every tick, as 0 for "no valid time", and
    // also outside PLAYING.
    d = stall_watchdog_tick(c, PositionSample{true, -1, true});
    EXPECT_TRUE(d.write_position);
    EXPECT_EQ(d.position_seconds, 0);
    d = stall_watchdog_tick(c, paused_at(7));
    EXPECT_TRUE(d.write_position);
    EXPECT_EQ(d.position_seconds, 7);

    // A failed query writes nothing.
    d = stall_watchdog_tick(c, failed_query());
    EXPECT_FALSE(d.write_position);
}

TEST(StallWatchdog, StandingStillStopsAtTheSixteenthTick) {
    StallCounters c;
    for (std::int64_t s = 1; s <= 5; ++s) {
        ASSERT_FALSE(stall_watchdog_tick(c, playing_at(s)).stalled);
    }
    // The tick that first sees 5 again counts 1; 15 counted, the 16th stops.
    EXPECT_EQ(ticks_until_stall(c, 5), 16);
}

TEST(StallWatchdog, LimitIsTestedBeforeThisTicksComparison) {
    StallCounters c;
    c.position_seen = 1;
    c.last_position = 3;
    c.stall_count = kStallLimit;
    // Even a tick that moves stops the run once 15 are counted.
    EXPECT_TRUE(stall_watchdog_tick(c, playing_at(4)).stalled);
}

TEST(StallWatchdog, ProgressSetsTheCountBack) {
    StallCounters c;
    (void)stall_watchdog_tick(c, playing_at(1));
    // Many short hiccups over a long playback: 14 ticks standing, then one
    // move, again and again. Never stopped.
    std::int64_t pos = 1;
    for (int round = 0; round < 50; ++round) {
        for (int i = 0; i < 14; ++i) {
            ASSERT_FALSE(stall_watchdog_tick(c, playing_at(pos)).stalled) << "round " << round;
        }
        ++pos;
        ASSERT_FALSE(stall_watchdog_tick(c, playing_at(pos)).stalled);
        EXPECT_EQ(c.stall_count, 0);
    }
    // A seek backwards is a change of position too.
    (void)stall_watchdog_tick(c, playing_at(pos));
    (void)stall_watchdog_tick(c, playing_at(0));
    EXPECT_EQ(c.stall_count, 0);
}

TEST(StallWatchdog, TicksOutsidePlayingNeitherCountNorRemember) {
    StallCounters c;
    (void)stall_watchdog_tick(c, playing_at(10));
    (void)stall_watchdog_tick(c, playing_at(10));
    ASSERT_EQ(c.stall_count, 1);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_FALSE(stall_watchdog_tick(c, paused_at(10)).stalled);
    }
    EXPECT_EQ(c.stall_count, 1);
    // Paused elsewhere (a seek while paused): the first PLAYING tick compares
    // with the position stored before the pause.
    (void)stall_watchdog_tick(c, paused_at(50));
    EXPECT_EQ(c.last_position, 10);
    (void)stall_watchdog_tick(c, playing_at(10));
    EXPECT_EQ(c.stall_count, 2);
}

TEST(StallWatchdog, NothingCountedBeforeTheFirstWholeSecond) {
    StallCounters c;
    // A stream that never gets past 0 s is left to the start-up time-out.
    for (int i = 0; i < 100; ++i) {
        ASSERT_FALSE(stall_watchdog_tick(c, playing_at(0)).stalled);
        ASSERT_FALSE(stall_watchdog_tick(c, failed_query()).stalled);
    }
    EXPECT_EQ(c.stall_count, 0);
    // last_position still follows PLAYING ticks before then.
    (void)stall_watchdog_tick(c, PositionSample{true, kSecond / 2, true});
    EXPECT_EQ(c.last_position, 0);
    EXPECT_EQ(ticks_until_stall(c, 1), 17); // 1 s is new, then 15 + 1
}

TEST(StallWatchdog, FailedQueriesCountAsNoProgress) {
    StallCounters c;
    (void)stall_watchdog_tick(c, playing_at(3));
    for (int i = 0; i < kStallLimit; ++i) {
        ASSERT_FALSE(stall_watchdog_tick(c, failed_query()).stalled);
    }
    EXPECT_EQ(c.last_position, 3);
    EXPECT_TRUE(stall_watchdog_tick(c, failed_query()).stalled);

    // A passing failure is forgiven by the next tick that moves.
    StallCounters d;
    (void)stall_watchdog_tick(d, playing_at(3));
    (void)stall_watchdog_tick(d, failed_query());
    EXPECT_EQ(d.stall_count, 1);
    (void)stall_watchdog_tick(d, playing_at(4));
    EXPECT_EQ(d.stall_count, 0);

    // Outside PLAYING a failed query changes nothing.
    (void)stall_watchdog_tick(d, failed_query(false));
    EXPECT_EQ(d.stall_count, 0);
    EXPECT_EQ(d.last_position, 4);
}

TEST(StallWatchdog, PositionsAreWholeSecondsTruncated) {
    StallCounters c;
    (void)stall_watchdog_tick(c, PositionSample{true, 2 * kSecond + 999999999, true});
    EXPECT_EQ(c.last_position, 2);
    // 2.0 s and 2.999 s are the same second: no progress.
    (void)stall_watchdog_tick(c, playing_at(2));
    EXPECT_EQ(c.stall_count, 1);
}
