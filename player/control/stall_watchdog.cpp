#include "control/stall_watchdog.h"

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;

} // namespace

TickDecision stall_watchdog_tick(StallCounters &counters, const PositionSample &sample) {
    TickDecision decision;
    std::int64_t seconds = counters.last_position;
    if (sample.query_ok) {
        seconds = sample.position_ns == -1 ? 0 : sample.position_ns / kNanosecondsPerSecond;
        if (seconds != 0) {
            counters.position_seen = 1;
        }
        if (counters.position_seen) {
            decision.write_position = true;
            decision.position_seconds = seconds;
        }
    }
    if (!sample.playing) {
        return decision;
    }
    if (counters.stall_count >= kStallLimit) {
        decision.stalled = true;
        return decision;
    }
    if (seconds != counters.last_position) {
        counters.stall_count = 0;
    } else if (counters.position_seen) {
        ++counters.stall_count;
    }
    counters.last_position = seconds;
    return decision;
}
