#include "http_block_size.h"

#include "gst_ptr.h"

#include <gst/base/gstbasesrc.h>

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
