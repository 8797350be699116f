// The player's one process-wide record. Every handler reaches it directly.
//
// Threads and who touches what:
//  - main-loop thread: bus watch, position timer, pause and seek requests,
//    bitrate recording. Everything not marked otherwise belongs to it.
//  - GStreamer streaming threads: on_pad_added (reads audio_bin),
//    on_unknown_type (uri_list_seen, redirect_count, unknown_type_name),
//    on_playlist_buffer (the playlist text and redirect location). These
//    fields are atomics or are handed over under playlist_lock.
//  - the terminating-signal thread (SIGTERM, SIGALRM): reads pipeline and
//    controller_mode, and claims the single end of the run (termination.h).
#pragma once

#include <atomic>
#include <glib.h>
#include <gst/gst.h>

struct PlayerState {
    int tracked_state = GST_STATE_NULL; // player's belief: PLAYING or PAUSED once playing
    guint position_timer_id = 0;
    std::atomic<int> is_http{0};
    int controller_mode = 0;
    std::atomic<int> uri_list_seen{0};
    std::atomic<int> redirect_count{0};
    std::atomic<gchar *> unknown_type_name{nullptr}; // owned, g_free
    int playback_started = 0;
    int sniffing = 0;
    int stall_count = 0;
    int position_seen = 0;
    gint64 last_position = 0;

    GMainLoop *main_loop = nullptr;
    std::atomic<GstElement *> pipeline{nullptr};
    GstElement *audio_bin = nullptr;
    GstElement *source = nullptr;
    GstElement *decoder = nullptr;
    GstElement *playlist_sink = nullptr;
    GstPad *source_pad = nullptr;
    gchar *played_location = nullptr; // owned; line 1 of the status file

    char error_text[1024] = {};
};

extern PlayerState player;
