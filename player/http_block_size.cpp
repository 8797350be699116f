#include "http_block_size.h"

#include "gst_ptr.h"

#include <gst/base/gstbasesrc.h>

namespace {

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
    if (!GST_IS_BASE_SRC(source))
        return;
    GstObjectPtr<GstPad> pad(gst_element_get_static_pad(source, "src"));
    if (!pad)
        return;
    (void)gst_pad_add_probe(
        pad.get(),
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
        clamp_block_size, nullptr, nullptr);
}
