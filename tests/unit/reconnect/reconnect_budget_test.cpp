#include "reconnect/reconnect_budget.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Plays one drop through: every attempt fails `fails_after_ms` after it
// begins (capped by the connection limit). Returns the waits asked for and
// the time of giving up.
struct Outcome {
    std::vector<std::int64_t> waits;
    std::int64_t gave_up_at = -1;
};

Outcome fail_every_attempt(ReconnectBudget &budget, std::int64_t drop_at,
                           std::int64_t fails_after_ms) {
    Outcome outcome;
    std::int64_t now = drop_at;
    BudgetStep step = budget.on_drop(now);
    while (!step.give_up) {
        outcome.waits.push_back(step.wait_ms);
        now += step.wait_ms;
        const std::int64_t limit = budget.connection_limit_ms(now);
        EXPECT_GT(limit, 0);
        now += fails_after_ms < limit ? fails_after_ms : limit;
        step = budget.on_attempt_failed(now);
    }
    outcome.gave_up_at = now;
    return outcome;
}

TEST(ReconnectBudget, FailedAttemptsAreSpacedAndEndWithinThirtySeconds) {
    struct Case {
        std::int64_t fails_after_ms;
        std::vector<std::int64_t> waits;
        std::int64_t gave_up_at;
    };
    const Case cases[] = {
        // Refused at once: four attempts, 1 + 2 + 4 + 8 s apart.
        {0, {1000, 2000, 4000, 8000}, 15000},
        // Accepts but never sends audio: each gets 8 s, the third only what
        // is left of the 30 s, and the fourth would begin too late.
        {60000, {1000, 2000, 4000}, 30000},
    };
    for (const Case &c : cases) {
        ReconnectBudget budget;
        const Outcome outcome = fail_every_attempt(budget, 100000, c.fails_after_ms);
        EXPECT_EQ(outcome.waits, c.waits) << c.fails_after_ms;
        EXPECT_EQ(outcome.gave_up_at - 100000, c.gave_up_at) << c.fails_after_ms;
    }
}

TEST(ReconnectBudget, HealedDropStartsAfreshAndTenAnHourAreBridged) {
    ReconnectBudget budget;
    std::int64_t now = 0;
    for (int drop = 0; drop < kDropsPerHour; ++drop) {
        const BudgetStep step = budget.on_drop(now);
        ASSERT_FALSE(step.give_up) << drop;
        EXPECT_EQ(step.wait_ms, 1000) << drop;
        budget.on_audio(now + 1500);
        now += 1500 + kHealedAfterMs; // healed
    }
    // The eleventh within the hour ends the run...
    const BudgetStep eleventh = budget.on_drop(now);
    EXPECT_TRUE(eleventh.give_up && eleventh.too_many_drops);
    // ...but once the first has fallen out of the hour, a drop is bridged.
    ReconnectBudget later;
    now = 0;
    for (int drop = 0; drop < kDropsPerHour; ++drop) {
        ASSERT_FALSE(later.on_drop(now).give_up);
        later.on_audio(now + 1500);
        now += 6 * 60 * 1000;
    }
    EXPECT_FALSE(later.on_drop(now).give_up);
}

} // namespace
