#include "control/termination.h"

#include "player_state.h"

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

namespace {
// Lock-free on every target we ship (a 32-bit word), so it may be claimed
// from a signal context as well as from any thread.
std::atomic<int> end_claimed{0};
std::atomic<int> writes_in_progress{0};
// Set on the one thread that won the claim; its own writes go on.
thread_local bool ends_the_run = false;

// A status write takes microseconds; this only keeps a wedged writer from
// holding the end of the run for good.
constexpr int kWriterWaitSteps = 2000;
constexpr long kWriterWaitStepNs = 1000 * 1000;

} // namespace

bool claim_end_of_run() {
    int expected = 0;
    if (!end_claimed.compare_exchange_strong(expected, 1))
        return false;
    ends_the_run = true;
    // A writer registers before it looks at the claim, and the claim is set
    // before this looks at the writers: every write either saw the claim and
    // gave up, or is counted here and finishes before the final status.
    for (int i = 0; i < kWriterWaitSteps && writes_in_progress.load() != 0; ++i) {
        timespec step{0, kWriterWaitStepNs};
        (void)nanosleep(&step, nullptr);
    }
    return true;
}

bool begin_run_file_write() {
    writes_in_progress.fetch_add(1);
    if (end_claimed.load() != 0 && !ends_the_run) {
        writes_in_progress.fetch_sub(1);
        return false;
    }
    return true;
}

void end_run_file_write() {
    writes_in_progress.fetch_sub(1);
}

void park_forever() {
    for (;;)
        pause();
}

void notify_controller() {
    if (player.controller_mode)
        (void)system("killall -SIGUSR1 kavido");
}
