#include "control/termination.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

// Two ends racing (an error on the bus while SIGTERM arrives) must leave
// exactly one final status: one claimer wins, it lets a write that began
// earlier finish first, and no other thread writes after the claim. The end
// can be claimed once per process, so this is one scenario.
TEST(Termination, OneEndWinsAfterEarlierWritesAndShutsOutLaterOnes) {
    // A "PLAYING" write already under way on this thread.
    ASSERT_TRUE(begin_run_file_write());

    constexpr int kThreads = 8;
    std::atomic<int> go{0};
    std::atomic<int> winners{0};
    std::atomic<int> winner_returned{0};
    std::atomic<int> winner_may_write{0};
    std::thread threads[kThreads];
    for (auto &t : threads)
        t = std::thread([&] {
            while (!go.load())
                std::this_thread::yield();
            if (!claim_end_of_run())
                return;
            winners.fetch_add(1);
            winner_returned.store(1);
            if (begin_run_file_write()) {
                winner_may_write.store(1);
                end_run_file_write();
            }
        });
    go.store(1);

    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(0, winner_returned.load()) << "final status could overtake a running write";
    end_run_file_write();

    for (auto &t : threads)
        t.join();
    EXPECT_EQ(1, winners.load());
    EXPECT_EQ(1, winner_may_write.load());
    // This thread lost: its writes are refused from now on, and the end
    // cannot be claimed again.
    EXPECT_FALSE(begin_run_file_write());
    EXPECT_FALSE(claim_end_of_run());
}

} // namespace
