#include "pipeline.h"

#include "gst_ptr.h"
#include "http_sources.h"
#include "player_state.h"
#include "reconnect/source_watch.h"
#include "unknown_type.h"

#include <cstdlib>
#include <cstring>

namespace {

// Seconds without data before the HTTP source gives up (see create_source).
constexpr guint kHttpSourceIoTimeoutSeconds = 60;

void post_missing_element(const char *factory) {
    // Same wording GStreamer's own launch parser uses for a missing element.
    gchar *text = g_strdup_printf("no element \"%s\"", factory);
    post_pipeline_error(GST_CORE_ERROR, GST_CORE_ERROR_MISSING_PLUGIN, text);
    g_free(text);
}

// The output element: "alsasink" on the router; on machines without a sound
// card SORVEL_AUDIO_SINK names a stand-in such as "fakesink sync=true".
GstElement *create_audio_sink(const char *name) {
    const char *description = getenv("SORVEL_AUDIO_SINK");
    if (!description || !*description)
        return create_element("alsasink", name);

    GErrorPtr error;
    GstElement *parsed =
        gst_parse_launch_full(description, nullptr, GST_PARSE_FLAG_FATAL_ERRORS, error.out());
    if (!parsed) {
        post_pipeline_error(GST_CORE_ERROR, GST_CORE_ERROR_MISSING_PLUGIN,
                            error ? error->message : "invalid SORVEL_AUDIO_SINK");
        return nullptr;
    }
    // A description of several elements comes back as a whole pipeline,
    // which cannot serve as the bin's sink.
    if (GST_IS_PIPELINE(parsed)) {
        gst_object_unref(gst_object_ref_sink(parsed));
        post_pipeline_error(GST_CORE_ERROR, GST_CORE_ERROR_FAILED,
                            "SORVEL_AUDIO_SINK must describe a single element");
        return nullptr;
    }
    // Still floating, like an element fresh from a factory.
    gst_object_set_name(GST_OBJECT(parsed), name);
    return parsed;
}

} // namespace

void post_pipeline_error(GQuark domain, int code, const char *message) {
    GstElement *pipeline = player.pipeline.load();
    if (!pipeline)
        return;
    GError *error = g_error_new_literal(domain, code, message);
    GstMessage *msg = gst_message_new_error(GST_OBJECT(pipeline), error, message);
    g_error_free(error);
    gst_element_post_message(pipeline, msg);
}

GstElement *create_pipeline(const char *name, GstBusFunc bus_watch) {
    // The player holds the one plain reference; whoever replaces the
    // pipeline releases it.
    GstElement *pipeline = GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(name)));
    player.pipeline.store(pipeline);
    prepare_http_sources_within(pipeline);
    GstObjectPtr<GstBus> bus(gst_pipeline_get_bus(GST_PIPELINE(pipeline)));
    gst_bus_add_watch(bus.get(), bus_watch, player.main_loop);
    return pipeline;
}

GstElement *create_element(const char *factory, const char *name) {
    GstElement *element = gst_element_factory_make(factory, name);
    if (!element)
        post_missing_element(factory);
    return element;
}

GstElement *create_source(const char *factory, const char *name, const char *location) {
    GstElement *source = create_element(factory, name);
    if (source)
        g_object_set(G_OBJECT(source), "location", location, nullptr);
    // On its own the HTTP source gives up after 15 s without data, before the
    // start-up time-out (20 s) or the stall watchdog (16 ticks) could end the
    // run with their own status. A longer limit lets them decide, and still
    // ends a playlist download that stalls, which neither of them watches.
    if (source && strcmp(factory, "souphttpsrc") == 0) {
        g_object_set(G_OBJECT(source), "timeout", kHttpSourceIoTimeoutSeconds, nullptr);
        prepare_http_source(source);
        watch_http_source(source);
    }
    return source;
}

GstElement *create_decoder(const char *name) {
    GstElement *decoder = create_element("decodebin", name);
    if (!decoder)
        return nullptr;
    g_signal_connect(decoder, "pad-added", G_CALLBACK(on_pad_added), nullptr);
    g_signal_connect(decoder, "unknown-type", G_CALLBACK(on_unknown_type), nullptr);
    return decoder;
}

GstElement *create_audio_bin(const char *bin_name, const char *convert_name,
                             const char *sink_name) {
    GstElement *convert = create_element("audioconvert", convert_name);
    GstElement *sink = create_audio_sink(sink_name);
    if (!convert || !sink) {
        if (convert)
            gst_object_unref(gst_object_ref_sink(convert));
        if (sink)
            gst_object_unref(gst_object_ref_sink(sink));
        return nullptr;
    }
    GstElement *bin = gst_bin_new(bin_name);
    gst_bin_add_many(GST_BIN(bin), convert, sink, nullptr);
    gst_element_link(convert, sink);
    GstObjectPtr<GstPad> target(gst_element_get_static_pad(convert, "sink"));
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", target.get()));
    return bin;
}

void on_pad_added(GstElement *, GstPad *pad, gpointer) {
    GstCapsPtr caps(gst_pad_get_current_caps(pad));
    if (!caps)
        caps.reset(gst_pad_query_caps(pad, nullptr));
    const char *name = "";
    if (caps && gst_caps_get_size(caps.get()) > 0)
        name = gst_structure_get_name(gst_caps_get_structure(caps.get(), 0));

    if (!g_strrstr(name, "audio")) {
        g_print("Invalid type:[%s]\n", name);
        return;
    }
    GstElement *audio_bin = player.audio_bin;
    if (!audio_bin)
        return;
    // Only the first audio stream is played; a later one finds the bin's
    // pad taken and stays unlinked.
    GstObjectPtr<GstPad> sink(gst_element_get_static_pad(audio_bin, "sink"));
    if (sink && !gst_pad_is_linked(sink.get()))
        (void)gst_pad_link(pad, sink.get());
}

void add_stream_elements(GstElement *pipeline, GstElement *source, GstElement *decoder,
                         GstElement *audio_bin) {
    if (source)
        gst_bin_add(GST_BIN(pipeline), source);
    if (decoder)
        gst_bin_add(GST_BIN(pipeline), decoder);
    if (source && decoder)
        gst_element_link(source, decoder);
    if (audio_bin)
        gst_bin_add(GST_BIN(pipeline), audio_bin);
}
