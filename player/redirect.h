// Following a playlist: the pipeline is rewired so the source feeds the
// playlist sink (sniffing), and once the playlist has ended a second
// pipeline plays the one location it names. Main thread only.
#pragma once

#include <gst/gst.h>

// Error branch of the bus handler. True when the error was dealt with here
// (a playlist is now being read, or the error came from a released element)
// and the handler must go on as if nothing ended.
bool handle_playlist_error(GstMessage *message);

enum class PlaylistEnd {
    none,          // an ordinary end of stream
    redirected,    // a playlist's entry is now played in place of ending
    not_a_playlist // read as a playlist, it was none: end with this error
};

// End-of-stream branch. With not_a_playlist, `*error_message` is the
// message of the error that sent us reading (valid until exit).
PlaylistEnd handle_playlist_end_of_stream(const char **error_message);

// Source -> playlist sink, in the current pipeline.
void switch_to_sniffing();

// "pipeline2" playing `location`, in place of the sniffing pipeline.
void perform_redirect(const char *location);
