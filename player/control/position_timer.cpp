#include "control/position_timer.h"

#include "control/pipeline_stop.h"
#include "control/stall_watchdog.h"
#include "control/termination.h"
#include "player_state.h"
#include "reconnect/reconnect.h"
#include "report/status_files.h"

#include <cstdlib>
#include <gst/gst.h>

namespace {

[[noreturn]] void stall_stop() {
    if (!claim_end_of_run()) {
        park_forever();
    }
    write_status("", nullptr);
    remove_run_files();
    // A stalled source is the likeliest to be stuck in a read that cannot be
    // interrupted; the notification and the exit must not wait on it.
    (void)stop_pipeline_within(player.pipeline.load(), kPipelineStopWaitMs);
    notify_controller();
    exit(1);
}

} // namespace

void start_position_timer() {
    player.position_timer_id =
        g_timeout_add_seconds(1, position_update_timeout_cb, player.main_loop);
}

gboolean position_update_timeout_cb(gpointer) {
    if (!player.playback_started) {
        return TRUE;
    }
    PositionSample sample;
    gint64 position = 0;
    sample.query_ok =
        gst_element_query_position(player.pipeline.load(), GST_FORMAT_TIME, &position) != FALSE;
    sample.position_ns = sample.query_ok ? reconnect_adjust_position(position) : position;
    // While a reconnection is under way its budget decides, not the watchdog.
    sample.playing = player.tracked_state == GST_STATE_PLAYING && !reconnect_in_progress();

    StallCounters counters{player.stall_count, player.position_seen, player.last_position};
    const TickDecision decision = stall_watchdog_tick(counters, sample);
    player.stall_count = counters.stall_count;
    player.position_seen = counters.position_seen;
    player.last_position = counters.last_position;

    if (decision.write_position) {
        // Skipped by write_seconds_file once another thread ends the run.
        write_seconds_file(kPositionFile,
                           static_cast<unsigned long long>(decision.position_seconds));
    }
    if (decision.stalled) {
        stall_stop();
    }
    return TRUE;
}
