#include "bus_handler.h"

#include "gst_ptr.h"
#include "iradio_update.h"
#include "pipeline_stop.h"
#include "player_state.h"
#include "playing_report.h"
#include "redirect.h"
#include "status_files.h"
#include "termination.h"
#include "title_file.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

void on_end_of_stream() {
    // playlist redirect: a pending playlist entry is played instead of ending.
    if (handle_playlist_end_of_stream())
        return;

    if (!claim_end_of_run())
        park_forever();
    // Bounded like every other end: a thread stuck in a read must not keep
    // the final status from being written.
    (void)stop_pipeline_within(player.pipeline.load(), kPipelineStopWaitMs);
    write_status("EOS", nullptr);
    remove_run_files();
    notify_controller();
    exit(0);
}

void on_error(GstMessage *message) {
    // playlist detection: an error that means "this is a playlist" switches
    // the source to the playlist sink instead of ending.
    if (handle_playlist_error(message))
        return;

    GErrorPtr error;
    GCharPtr debug;
    gst_message_parse_error(message, error.out(), debug.out());

    if (!claim_end_of_run())
        park_forever();

    // A stream the decoder could not handle is the better explanation of
    // whatever error followed it.
    const gchar *unknown = player.unknown_type_name.load();
    if (unknown)
        snprintf(player.error_text, sizeof player.error_text, "INVALID:%s", unknown);
    else
        snprintf(player.error_text, sizeof player.error_text, "ERROR:%s",
                 error && error->message ? error->message : "");
    write_status(player.error_text, nullptr);
    remove_run_files();
    error.reset();
    debug.reset();
    (void)stop_pipeline_within(player.pipeline.load(), kPipelineStopWaitMs);
    notify_controller();
    exit(1);
}

void on_state_changed(GstMessage *message) {
    if (GST_MESSAGE_SRC(message) != GST_OBJECT(player.pipeline.load()))
        return;
    GstState new_state = GST_STATE_VOID_PENDING;
    gst_message_parse_state_changed(message, nullptr, &new_state, nullptr);
    if (new_state != GST_STATE_PLAYING)
        return;

    // The pipeline got going: the start-up time-out is over.
    alarm(0);
    // The playlist pipeline reaching PLAYING is not playback.
    if (player.sniffing)
        return;
    player.playback_started = 1;
    player.tracked_state = GST_STATE_PLAYING;
    // The returned bitrate is what the station's bitrate recording takes.
    iradio_update(report_playing());
}

} // namespace

gboolean my_bus_callback(GstBus *, GstMessage *message, gpointer) {
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_EOS:
        on_end_of_stream();
        break;
    case GST_MESSAGE_ERROR:
        on_error(message);
        break;
    case GST_MESSAGE_STATE_CHANGED:
        on_state_changed(message);
        break;
    case GST_MESSAGE_TAG:
        note_title_tags(message);
        break;
    default:
        break;
    }
    return TRUE;
}
