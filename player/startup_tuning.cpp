#include "startup_tuning.h"

#include <gst/gst.h>

namespace {

// The general-purpose codec library's plug-in. Loading it maps the whole
// codec and filter stack (for an MP3 station here: 35 MB of RSS, 8 MB of it
// private, and a third of a second), so it is to be loaded only for a
// stream that one of its decoders must play.
constexpr const char *kCodecLibraryPlugin = "libav";

// Type finding calls every typefinder unless one is certain, and MP3 never
// is, so a typefinder that lives in the codec library loads it for every
// stream. Those typefinders only recognise containers of games and video
// tools; the radio, playlist and file formats the player serves are all
// recognised by the base set's typefinders.
void drop_codec_library_typefinders(GstRegistry *registry) {
    GstPlugin *plugin = gst_registry_find_plugin(registry, kCodecLibraryPlugin);
    if (!plugin)
        return;
    bool loaded = gst_plugin_is_loaded(plugin);
    gst_object_unref(plugin);
    // Once loaded, keeping them costs nothing more.
    if (loaded)
        return;
    GList *features = gst_registry_get_feature_list_by_plugin(registry, kCodecLibraryPlugin);
    for (GList *l = features; l; l = l->next) {
        if (GST_IS_TYPE_FIND_FACTORY(l->data))
            gst_registry_remove_feature(registry, GST_PLUGIN_FEATURE(l->data));
    }
    gst_plugin_feature_list_free(features);
}

// A dedicated decoder preferred over the codec library's decoders of the
// same format when both are installed at the same rank, where decodebin
// would otherwise take either.
struct DecoderPreference {
    const char *preferred;
    const char *over[3];
};

constexpr DecoderPreference kDecoderPreferences[] = {
    {"mpg123audiodec", {"avdec_mp3", "avdec_mp3float", "avdec_mp2float"}},
};

void prefer_dedicated_decoders(GstRegistry *registry) {
    for (const DecoderPreference &pref : kDecoderPreferences) {
        GstPluginFeature *preferred = gst_registry_lookup_feature(registry, pref.preferred);
        if (!preferred)
            continue;
        guint highest_other = 0;
        for (const char *name : pref.over) {
            GstPluginFeature *other = gst_registry_lookup_feature(registry, name);
            if (!other)
                continue;
            guint rank = gst_plugin_feature_get_rank(other);
            if (rank > highest_other)
                highest_other = rank;
            gst_object_unref(other);
        }
        // Never lowered: a build that already ranks it higher keeps that.
        if (highest_other > 0 && gst_plugin_feature_get_rank(preferred) <= highest_other)
            gst_plugin_feature_set_rank(preferred, highest_other + 1);
        gst_object_unref(preferred);
    }
}

} // namespace

void tune_startup() {
    GstRegistry *registry = gst_registry_get();
    drop_codec_library_typefinders(registry);
    prefer_dedicated_decoders(registry);
}
