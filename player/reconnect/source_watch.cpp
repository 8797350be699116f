#include "reconnect/source_watch.h"

#include "gst_ptr.h"
#include "reconnect/live_answer.h"

#include <atomic>
#include <cstring>

namespace {

// Written by the current source's streaming thread, read on the main thread.
std::atomic<int> stream_is_live{0};
std::atomic<int> stream_is_chunked{0};
std::atomic<int> data_ended{0};
// Set on the main thread once the server has ignored a Range request.
std::atomic<int> cannot_seek{0};

void note_answer(const GstStructure *headers) {
    HttpAnswerFacts answer;
    (void)gst_structure_get_uint(headers, "http-status-code", &answer.status);
    const GValue *value = gst_structure_get_value(headers, "response-headers");
    const GstStructure *response = value && G_VALUE_HOLDS(value, GST_TYPE_STRUCTURE)
                                       ? gst_value_get_structure(value)
                                       : nullptr;
    const int fields = response ? gst_structure_n_fields(response) : 0;
    for (int i = 0; i < fields; ++i) {
        const gchar *name = gst_structure_nth_field_name(response, i);
        const GValue *field = gst_structure_get_value(response, name);
        const gchar *text = G_VALUE_HOLDS_STRING(field) ? g_value_get_string(field) : nullptr;
        if (g_ascii_strcasecmp(name, "Content-Length") == 0)
            answer.has_content_length = true;
        else if (g_ascii_strcasecmp(name, "Transfer-Encoding") == 0 && text)
            answer.chunked = strstr(text, "chunked") != nullptr;
        else if (g_ascii_strcasecmp(name, "Content-Type") == 0 && text)
            answer.content_type = text;
    }
    stream_is_live.store(is_live_answer(answer));
    stream_is_chunked.store(answer.chunked);
}

// On the source's pad, in its streaming thread: the answer's headers come
// before its first byte; the end of a connection's data; and, for a server
// that ignores ranges, every question about seeking gets a "no".
GstPadProbeReturn on_source_pad(GstPad *, GstPadProbeInfo *info, gpointer) {
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_EOS)
            data_ended.store(1);
        else if (GST_EVENT_TYPE(event) == GST_EVENT_CUSTOM_DOWNSTREAM_STICKY &&
                 gst_event_has_name(event, "http-headers"))
            note_answer(gst_event_get_structure(event));
        return GST_PAD_PROBE_OK;
    }
    if (!cannot_seek.load())
        return GST_PAD_PROBE_OK;
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_QUERY_UPSTREAM) {
        GstQuery *query = GST_PAD_PROBE_INFO_QUERY(info);
        if (GST_QUERY_TYPE(query) != GST_QUERY_SEEKING)
            return GST_PAD_PROBE_OK;
        GstFormat format = GST_FORMAT_UNDEFINED;
        gst_query_parse_seeking(query, &format, nullptr, nullptr, nullptr);
        gst_query_set_seeking(query, format, FALSE, 0, -1);
        return GST_PAD_PROBE_HANDLED;
    }
    GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
    return GST_EVENT_TYPE(event) == GST_EVENT_SEEK ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

} // namespace

void watch_http_source(GstElement *source) {
    GstObjectPtr<GstPad> pad(gst_element_get_static_pad(source, "src"));
    if (!pad)
        return;
    (void)gst_pad_add_probe(pad.get(),
                            static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                         GST_PAD_PROBE_TYPE_EVENT_UPSTREAM |
                                                         GST_PAD_PROBE_TYPE_QUERY_UPSTREAM),
                            on_source_pad, nullptr, nullptr);
}

bool source_stream_is_live() {
    return stream_is_live.load() != 0;
}
bool source_stream_is_chunked() {
    return stream_is_chunked.load() != 0;
}
bool source_data_ended() {
    return data_ended.load() != 0;
}
void forget_source_data_end() {
    data_ended.store(0);
}
void make_source_unseekable() {
    cannot_seek.store(1);
}
bool source_cannot_seek() {
    return cannot_seek.load() != 0;
}
