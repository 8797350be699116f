#include "termination.h"

#include "player_state.h"
#include "status_files.h"

#include <atomic>
#include <cstdlib>
#include <unistd.h>

namespace {
// Lock-free on every target we ship (a 32-bit word), so it may be claimed
// from a signal context as well as from any thread.
std::atomic<int> end_claimed{0};
} // namespace

bool claim_end_of_run() {
    int expected = 0;
    return end_claimed.compare_exchange_strong(expected, 1);
}

void park_forever() {
    for (;;)
        pause();
}

void remove_run_files() {
    (void)unlink(kDurationFile);
    (void)unlink(kPositionFile);
    (void)unlink(kPidFile);
}

void notify_controller() {
    if (player.controller_mode)
        (void)system("killall -SIGUSR1 kavido");
}
