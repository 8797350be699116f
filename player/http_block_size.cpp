#include "http_block_size.h"

#include "gst_ptr.h"

#include <gst/base/gstbasesrc.h>

#include <cstring>

namespace {

// Marks a source whose probe is in place.
GQuark limited_quark() {
    return g_quark_from_static_string("sorvel-http-block-size-limited");
}

// Runs on the source's streaming thread after each read, once the source has
// picked the size of its next one: brought back here, that read stays bounded.
GstPadProbeReturn clamp_block_size(GstPad *pad, GstPadProbeInfo *, gpointer) {
    GstBaseSrc *source = GST_BASE_SRC_CAST(GST_PAD_PARENT(pad));
    if (gst_base_src_get_blocksize(source) > kHttpMaxBlockSize)
        gst_base_src_set_blocksize(source, kHttpMaxBlockSize);
    return GST_PAD_PROBE_OK;
}

void limit_if_http_source(GstElement *element) {
    GstElementFactory *factory = gst_element_get_factory(element);
    if (factory && strcmp(GST_OBJECT_NAME(factory), "souphttpsrc") == 0)
        limit_http_block_size(element);
}

void limit_value_if_http_source(const GValue *value, gpointer) {
    limit_if_http_source(GST_ELEMENT(g_value_get_object(value)));
}

// Runs on whichever thread added the element (for the HLS demuxer, its own
// streaming thread) before the element is started.
void on_deep_element_added(GstBin *, GstBin *, GstElement *element, gpointer) {
    limit_if_http_source(element);
    if (!GST_IS_BIN(element))
        return;
    // A bin added whole (the demuxer's bin of source and queue) brings its
    // elements along without a signal for each.
    GstIterator *children = gst_bin_iterate_recurse(GST_BIN(element));
    while (gst_iterator_foreach(children, limit_value_if_http_source, nullptr) ==
           GST_ITERATOR_RESYNC)
        gst_iterator_resync(children);
    gst_iterator_free(children);
}

} // namespace

void limit_http_block_size(GstElement *source) {
    if (!GST_IS_BASE_SRC(source) || g_object_get_qdata(G_OBJECT(source), limited_quark()))
        return;
    GstObjectPtr<GstPad> pad(gst_element_get_static_pad(source, "src"));
    if (!pad)
        return;
    (void)gst_pad_add_probe(
        pad.get(),
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
        clamp_block_size, nullptr, nullptr);
    g_object_set_qdata(G_OBJECT(source), limited_quark(), GINT_TO_POINTER(1));
}

void limit_http_block_sizes_within(GstElement *pipeline) {
    g_signal_connect(pipeline, "deep-element-added", G_CALLBACK(on_deep_element_added), nullptr);
}
