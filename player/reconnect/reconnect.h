// Keeping a live station on the air through a dropped connection.
//
// Once a live HTTP stream (no stated length) has played, a drop -- an error
// from the source, a clean close, or 8 s without audio reaching the output
// -- stops the pipeline and starts it again after a wait: the same source
// then asks for the same location afresh, from the live point (no Range),
// and the decoder finds the stream anew. The budget (reconnect_budget.h)
// decides how often and how long; when it is spent, or the station answers
// with an HTTP error, the run ends through the bus handler's ordinary paths
// with a message posted here. While a reconnection is under way nothing is
// reported: no status word, no controller notification, no position file.
//
// Main thread only, except the probes, which touch atomics alone.
#pragma once

#include <gst/gst.h>

// Bus handler hooks. True when the message was dealt with here and the
// handler must carry on as if nothing ended.
bool reconnect_takes_error(GstMessage *message);
bool reconnect_takes_end_of_stream();
// The current pipeline reached PLAYING; true when that was a reconnection
// bringing audio back, which is not reported.
bool reconnect_takes_playing();

// From a drop until audio flows again, and while the run ends after one:
// the stall watchdog does not count and playlists are not looked for.
bool reconnect_in_progress();

// A pause toggle. During a reconnection only the wanted state changes
// (true returned); the pipeline follows once audio is back.
bool reconnect_takes_pause();

// The pipeline's position (ns, or -1) as the position file must show it:
// each reconnection starts the pipeline's clock from zero again, so what
// had played before the drop is added and the position never goes back.
gint64 reconnect_adjust_position(gint64 position_ns);
