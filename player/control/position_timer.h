// The one-second timer: publishes the playback position in
// "/tmp/position.txt" and runs the stall watchdog (stall_watchdog.h), which
// ends the run with an empty status word when playback stopped moving.
#pragma once

#include <glib.h>

// Starts the timer; its id goes to player.position_timer_id.
void start_position_timer();

// GSourceFunc of the timer, on the main loop. Returns TRUE; a stall ends the
// process instead.
gboolean position_update_timeout_cb(gpointer main_loop);
