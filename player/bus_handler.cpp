#include "bus_handler.h"

#include "bitrate/stream_bitrate.h"
#include "control/pipeline_stop.h"
#include "control/termination.h"
#include "gst_ptr.h"
#include "player_state.h"
#include "playlist/redirect.h"
#include "reconnect/reconnect.h"
#include "report/now_playing_title.h"
#include "report/playing_report.h"
#include "report/status_files.h"
#include "report/title_file.h"
#include "tls/certificate_check.h"
#include "tls/certificate_refusal.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

[[noreturn]] void end_with_error(const char *message) {
    if (!claim_end_of_run())
        park_forever();

    // A stream the decoder could not handle is the better explanation of
    // whatever error followed it.
    const gchar *unknown = player.unknown_type_name.load();
    if (unknown)
        snprintf(player.error_text, sizeof player.error_text, "INVALID:%s", unknown);
    else {
        // One line, by the title file's rule: a demuxer that reposts an
        // error appends GStreamer's debug text, line ends and all, which
        // would spill into lines of the status file its readers take for
        // something else.
        TitleText line;
        build_title_text({}, message ? message : "", &line);
        snprintf(player.error_text, sizeof player.error_text, "ERROR:%.*s",
                 static_cast<int>(line.length), line.bytes);
    }
    write_status(player.error_text, nullptr);
    remove_run_files();
    (void)stop_pipeline_within(player.pipeline.load(), kPipelineStopWaitMs);
    notify_controller();
    exit(1);
}

void on_end_of_stream() {
    // A live station's clean close is bridged, not the end of the run.
    if (reconnect_takes_end_of_stream())
        return;
    // playlist redirect: a pending playlist entry is played instead of ending.
    const char *playlist_error = nullptr;
    switch (handle_playlist_end_of_stream(&playlist_error, my_bus_callback)) {
    case PlaylistEnd::redirected:
        return;
    case PlaylistEnd::not_a_playlist:
        end_with_error(playlist_error);
    case PlaylistEnd::none:
        break;
    }

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
    if (reconnect_takes_error(message))
        return;
    // playlist detection: an error that means "this is a playlist" switches
    // the source to the playlist sink instead of ending. Not for the stream
    // a reconnection finds: it must be the station's audio or nothing.
    if (!reconnect_in_progress() && handle_playlist_error(message))
        return;

    GErrorPtr error;
    GCharPtr debug;
    gst_message_parse_error(message, error.out(), debug.out());
    // GStreamer's message for a refused certificate tells a listener nothing.
    char refusal[kCertificateRefusalTextSize];
    if (describe_station_certificate_error(message, refusal, sizeof refusal))
        end_with_error(refusal);
    end_with_error(error && error->message ? error->message : "");
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
    // Audio back after a drop: the run carries on as if nothing happened.
    if (reconnect_takes_playing())
        return;
    player.playback_started = 1;
    player.tracked_state = GST_STATE_PLAYING;
    record_station_bitrate_at_playing(report_playing());
}

void on_duration_changed() {
    // Only the played stream's length goes to the duration file, and only
    // once the PLAYING report has written it.
    if (player.playback_started && !player.sniffing)
        refresh_duration();
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
    case GST_MESSAGE_DURATION_CHANGED:
        on_duration_changed();
        break;
    case GST_MESSAGE_TAG:
        take_stream_tags(message);
        note_title_tags(message);
        break;
    default:
        break;
    }
    return TRUE;
}
