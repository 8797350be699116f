// Following a playlist: the pipeline is rewired so the source feeds the
// playlist sink (sniffing), and once the playlist has ended a second
// pipeline plays the one location it names. Main thread only.
#pragma once

#include <gst/gst.h>

// Error branch of the bus handler. True when the error was dealt with here
// (a playlist is now being read, or the error came from a released element)
// and the handler must go on as if nothing ended.
bool handle_playlist_error(GstMessage *message);

// End-of-stream branch. True when the stream that ended was a playlist with
// an entry, which is now being played in place of ending the run.
bool handle_playlist_end_of_stream();

// Source -> playlist sink, in the current pipeline.
void switch_to_sniffing();

// "pipeline2" playing `location`, in place of the sniffing pipeline.
void perform_redirect(const char *location);
