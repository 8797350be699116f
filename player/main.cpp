// sorvel: plays one location to the sound device and reports through the
// status files. Every end of the run is an exit from a handler.

#include "bus_handler.h"
#include "command_line.h"
#include "control/position_timer.h"
#include "control/signals.h"
#include "gst_ptr.h"
#include "mms/mms_src.h"
#include "pipeline.h"
#include "player_state.h"
#include "playlist/playlist_sink.h"
#include "report/status_files.h"
#include "smb/smb_location.h"
#include "smb/smb_mount.h"
#include "source_selection.h"
#include "startup_tuning.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gst/gst.h>

namespace {

// Chooses and creates "source" for the location; for an SMB location the
// share is mounted first and the file below the mount point is played.
// Refuses (exit 1, nothing written) an SMB location it cannot use as given.
void select_and_create_source(const char *location) {
    SourceChoice choice = select_source(location);
    const char *source_location = location;
    SmbLocation smb;
    if (choice.kind == SourceKind::Smb) {
        SmbParseError error = parse_smb_location(location, &smb);
        if (error != SmbParseError::None) {
            // Named without its credentials: standard error ends up in logs.
            const char *credentials = strstr(location, ",usr=");
            int shown = credentials ? static_cast<int>(credentials - location)
                                    : static_cast<int>(strlen(location));
            fprintf(stderr, "sorvel: %s: %.*s\n", smb_parse_error_text(error), shown, location);
            exit(1);
        }
        prepare_smb_share(smb);
        source_location = smb.local_path;
    }
    player.is_http.store(choice.is_http);
    player.source = create_source(choice.factory, "source", source_location);
    if (!player.source)
        player.played_location = g_strdup(source_location);
}

} // namespace

int main(int argc, char *argv[]) {
    // Before gst_init, which may start threads: they must all inherit the
    // blocked control signals (signals.h).
    take_control_signals();
    gst_init(&argc, &argv);
    // Elements the player provides itself are registered here.
    mms_src_register();
    tune_startup();

    CommandLine command;
    if (!parse_command_line(argc, argv, &command))
        usage(argv[0]);
    player.controller_mode = command.controller_mode;

    player.main_loop = g_main_loop_new(nullptr, FALSE);
    GstElement *pipeline = create_pipeline("pipeline", my_bus_callback);

    select_and_create_source(command.location);
    remove_stale_files();

    if (player.source) {
        player.source_pad = gst_element_get_static_pad(player.source, "src");
        g_object_get(G_OBJECT(player.source), "location", &player.played_location, nullptr);
    }

    player.decoder = create_decoder("decoder");
    if (player.decoder)
        g_object_set(G_OBJECT(player.decoder), "expose-all-streams", FALSE, nullptr);
    player.audio_bin = create_audio_bin("audiobin", "aconv", "sink");
    add_stream_elements(pipeline, player.source, player.decoder, player.audio_bin);

    player.playlist_sink = create_playlist_sink();

    install_timeout_handler();

    start_position_timer();

    write_status("PREPARE", nullptr);

    install_control_handlers();

    // From here on a /tmp that fills up cannot stop the reports.
    reserve_report_files();

    write_pid_file();

    // An element that could not be made has already posted its error: the
    // bus handler ends the run as soon as the loop runs.
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    g_main_loop_run(player.main_loop);

    gst_element_set_state(player.pipeline.load(), GST_STATE_NULL);
    gst_object_unref(player.pipeline.load());
    return 0;
}
