#include "termination.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

// Two ends racing (an error on the bus while SIGTERM arrives) must produce
// exactly one final status: exactly one claimer may win, ever.
TEST(Termination, ExactlyOneEndWinsARace) {
    constexpr int kThreads = 8;
    std::atomic<int> go{0};
    std::atomic<int> winners{0};
    std::thread threads[kThreads];
    for (auto &t : threads)
        t = std::thread([&] {
            while (!go.load())
                std::this_thread::yield();
            if (claim_end_of_run())
                winners.fetch_add(1);
        });
    go.store(1);
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(1, winners.load());
    // Nor can a later end claim it again.
    EXPECT_FALSE(claim_end_of_run());
}

} // namespace
