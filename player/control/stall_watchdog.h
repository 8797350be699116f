// The stall watchdog: once a second the position timer hands it the
// pipeline's position; it decides whether the position file is written and
// whether playback has stopped moving for good.
//
// It counts consecutive PLAYING ticks at which the position in whole seconds
// did not move. A tick whose position differs from the previous one sets the
// count back to 0, so that a long, healthy stream with the odd slow read (or
// two ticks falling into the same second, since the one-second timer drifts)
// is never taken for a stalled one. The limit is tested before this tick's
// comparison: a position that stands still from some tick on is counted 15
// times and the 16th tick stops the run.
#pragma once

#include <cstdint>

inline constexpr int kStallLimit = 15;

// The watchdog's memory; the fields of the same names in PlayerState.
struct StallCounters {
    int stall_count = 0;
    int position_seen = 0;          // the position was at least 1 s once
    std::int64_t last_position = 0; // whole seconds at the previous PLAYING tick
};

// What one tick of the timer observed (only ticks after the first PLAYING
// report reach the watchdog).
struct PositionSample {
    bool query_ok = false;
    std::int64_t position_ns = 0; // as the query gave it; -1 means no valid time
    bool playing = false;         // the player's tracked state is PLAYING
};

struct TickDecision {
    bool write_position = false; // write position_seconds to the position file
    std::int64_t position_seconds = 0;
    bool stalled = false; // end the run as stalled
};

// One tick. Ticks outside PLAYING neither count nor move last_position. A
// tick whose position query failed has no position of its own; it stands in
// with the last one, so it counts as a tick without progress: a pipeline that
// can no longer say where it is has not been seen to move, and a passing
// failure is forgiven by the next tick that does move.
TickDecision stall_watchdog_tick(StallCounters &counters, const PositionSample &sample);
