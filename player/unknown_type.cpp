#include "unknown_type.h"

#include "gst_ptr.h"
#include "player_state.h"

#include <cstring>

void on_unknown_type(GstElement *, GstPad *, GstCaps *caps, gpointer) {
    const char *name = "";
    if (caps && gst_caps_get_size(caps) > 0)
        name = gst_structure_get_name(gst_caps_get_structure(caps, 0));

    if (player.is_http.load() == 1 && strcmp(name, "text/uri-list") == 0) {
        player.uri_list_seen.store(1);
        // A second URI list (one inside the list's own entry) is not
        // followed: the run ends as if the stream had ended.
        if (player.redirect_count.fetch_add(1) + 1 >= 2) {
            GstElement *pipeline = player.pipeline.load();
            GstObjectPtr<GstBus> bus(gst_element_get_bus(pipeline));
            if (bus)
                gst_bus_post(bus.get(), gst_message_new_eos(GST_OBJECT(player.source_pad)));
        }
        return;
    }

    // The bus handler may be reading the previous name on the main thread
    // right now, so it is never freed; a run meets at most a few such types.
    player.unknown_type_name.store(g_strdup(name));
}
