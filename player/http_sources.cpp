#include "http_sources.h"

#include "http_block_size.h"
#include "tls/certificate_check.h"

#include <cstring>

namespace {

void prepare_if_http_source(GstElement *element) {
    GstElementFactory *factory = gst_element_get_factory(element);
    if (factory && strcmp(GST_OBJECT_NAME(factory), "souphttpsrc") == 0)
        prepare_http_source(element);
}

void prepare_value_if_http_source(const GValue *value, gpointer) {
    prepare_if_http_source(GST_ELEMENT(g_value_get_object(value)));
}

// Runs on whichever thread added the element (for the HLS demuxer, its own
// streaming thread) before the element is started.
void on_deep_element_added(GstBin *, GstBin *, GstElement *element, gpointer) {
    prepare_if_http_source(element);
    if (!GST_IS_BIN(element))
        return;
    // A bin added whole (the demuxer's bin of source and queue) brings its
    // elements along without a signal for each.
    GstIterator *children = gst_bin_iterate_recurse(GST_BIN(element));
    while (gst_iterator_foreach(children, prepare_value_if_http_source, nullptr) ==
           GST_ITERATOR_RESYNC)
        gst_iterator_resync(children);
    gst_iterator_free(children);
}

} // namespace

void prepare_http_source(GstElement *source) {
    limit_http_block_size(source);
    check_station_certificates(source);
}

void prepare_http_sources_within(GstElement *pipeline) {
    g_signal_connect(pipeline, "deep-element-added", G_CALLBACK(on_deep_element_added), nullptr);
}
