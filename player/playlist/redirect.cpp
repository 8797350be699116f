#include "playlist/redirect.h"

#include "control/signals.h"
#include "gst_ptr.h"
#include "pipeline.h"
#include "player_state.h"
#include "playlist/playlist_detection.h"
#include "playlist/playlist_sink.h"

#include <unistd.h>

namespace {

// Set once the second pipeline exists; only the main thread reads it.
bool redirect_done = false;

// The message of the error that sent us reading (a text file, a type not
// found, XML): it stands as the run's error if what was read turns out to be
// no playlist. Kept until exit like the other heap copies; a plain pointer,
// so no destructor runs at exit while the final status is being written.
gchar *reading_error = nullptr;

PlaylistPhase current_phase() {
    if (redirect_done)
        return PlaylistPhase::redirected;
    return player.sniffing ? PlaylistPhase::sniffing : PlaylistPhase::starting;
}

ErrorDomain domain_of(const GError *error) {
    if (error->domain == GST_CORE_ERROR)
        return ErrorDomain::core;
    if (error->domain == GST_LIBRARY_ERROR)
        return ErrorDomain::library;
    if (error->domain == GST_RESOURCE_ERROR)
        return ErrorDomain::resource;
    if (error->domain == GST_STREAM_ERROR)
        return ErrorDomain::stream;
    return ErrorDomain::other;
}

std::string_view name_of(GstObject *object) {
    const gchar *name = object ? GST_OBJECT_NAME(object) : nullptr;
    return name ? std::string_view(name) : std::string_view();
}

bool is_in_current_pipeline(GstObject *object) {
    GstObject *pipeline = GST_OBJECT(player.pipeline.load());
    if (!object || !pipeline)
        return false;
    return object == pipeline || gst_object_has_as_ancestor(object, pipeline);
}

// The element leaves the pipeline, which drops the pipeline's reference.
void remove_from_pipeline(GstElement *pipeline, GstElement *element) {
    if (pipeline && element)
        gst_bin_remove(GST_BIN(pipeline), element);
}

bool is_mms_location(const char *location) {
    return g_ascii_strncasecmp(location, "mms:", 4) == 0 ||
           g_ascii_strncasecmp(location, "mmsh:", 5) == 0;
}

} // namespace

bool handle_playlist_error(GstMessage *message) {
    GErrorPtr error;
    GCharPtr debug;
    gst_message_parse_error(message, error.out(), debug.out());

    GstObject *poster = GST_MESSAGE_SRC(message);
    // Only the parent's name is wanted (a decoder's typefinder); the
    // reference taken to read it goes with `parent`.
    GstObjectPtr<GstObject> parent(poster ? gst_object_get_parent(poster) : nullptr);

    BusErrorFacts facts{};
    facts.source_name = name_of(poster);
    facts.parent_name = name_of(parent.get());
    facts.from_current_pipeline = is_in_current_pipeline(poster);
    facts.domain = error ? domain_of(error.get()) : ErrorDomain::other;
    facts.code = error ? error->code : 0;
    facts.message = error && error->message ? std::string_view(error->message) : "";
    facts.redirect_count = player.redirect_count.load();
    facts.is_http = player.is_http.load();
    const gchar *unknown_type = player.unknown_type_name.load();
    facts.unknown_type = unknown_type ? std::string_view(unknown_type) : std::string_view();
    facts.phase = current_phase();

    switch (route_bus_error(facts)) {
    case ErrorRoute::report:
        return false;
    case ErrorRoute::ignore:
        return true;
    case ErrorRoute::read_uri_list:
        switch_to_sniffing();
        return true;
    case ErrorRoute::read_playlist:
        g_free(reading_error);
        reading_error = g_strndup(facts.message.data(), facts.message.size());
        player.redirect_count.fetch_add(1);
        switch_to_sniffing();
        return true;
    }
    return false;
}

PlaylistEnd handle_playlist_end_of_stream(const char **error_message, GstBusFunc bus_watch) {
    // After the redirect the text is gone and redirect_count is still 1: the
    // redirected stream's own end is an ordinary end of stream.
    if (!player.sniffing || player.redirect_count.load() != 1)
        return PlaylistEnd::none;
    bool is_playlist = false;
    GCharPtr location(take_redirect_location(&is_playlist));
    if (location) {
        perform_redirect(location.get(), bus_watch);
        return PlaylistEnd::redirected;
    }
    // An empty body, unidentifiable bytes or an error page would otherwise
    // end as a successful "EOS", and the controller would move on as if it
    // played. A playlist without a usable entry still ends that way.
    if (reading_error && !is_playlist) {
        *error_message = reading_error;
        return PlaylistEnd::not_a_playlist;
    }
    return PlaylistEnd::none;
}

void switch_to_sniffing() {
    GstElement *pipeline = player.pipeline.load();
    gst_element_set_state(pipeline, GST_STATE_NULL);
    // Both go away here; the pointers are cleared so that nothing (pad-added
    // included) can reach them again.
    remove_from_pipeline(pipeline, player.audio_bin);
    player.audio_bin = nullptr;
    remove_from_pipeline(pipeline, player.decoder);
    player.decoder = nullptr;

    if (player.playlist_sink && player.source) {
        gst_bin_add(GST_BIN(pipeline), player.playlist_sink);
        gst_element_link(player.source, player.playlist_sink);
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    player.sniffing = 1;
}

void perform_redirect(const char *location, GstBusFunc bus_watch) {
    player.sniffing = 0;
    redirect_done = true;

    GstElement *old_pipeline = player.pipeline.load();
    gst_element_set_state(old_pipeline, GST_STATE_NULL);
    // An XSPF was typed as XML on its way here; that type says nothing about
    // the entry's stream, whose own errors must read as they are. The
    // decoder that named it is long gone and only this thread reads the
    // name, so it can be freed.
    g_free(player.unknown_type_name.exchange(nullptr));
    remove_from_pipeline(old_pipeline, player.playlist_sink);
    remove_from_pipeline(old_pipeline, player.source);
    player.source = nullptr;
    // The playlist sink is never used again; only source_pad keeps the
    // first source's pad (not the source) alive, for line 1 of the status.
    if (player.playlist_sink) {
        gst_object_unref(player.playlist_sink);
        player.playlist_sink = nullptr;
    }
    {
        GstObjectPtr<GstBus> old_bus(gst_element_get_bus(old_pipeline));
        if (old_bus)
            (void)gst_bus_remove_watch(old_bus.get());
    }

    // The emptied first pipeline is stopped but deliberately not released:
    // the signal thread stops player.pipeline without taking a reference,
    // and may have read the old pointer an instant before this swap.
    GstElement *pipeline = create_pipeline("pipeline2", bus_watch);

    const bool mms = is_mms_location(location);
    player.is_http.store(mms ? 0 : player.redirect_count.load());
    player.source = create_source(mms ? "mmssrc" : "souphttpsrc", "source2", location);
    player.decoder = create_decoder("decoder2");
    player.audio_bin = create_audio_bin("audiobin2", "aconv2", "sink2");
    add_stream_elements(pipeline, player.source, player.decoder, player.audio_bin);

    // A new start-up time-out for the entry's stream.
    alarm(kStartupTimeoutSeconds);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
}
