#include "playlist/playlist_sink.h"

#include "gst_ptr.h"
#include "pipeline.h"
#include "player_state.h"
#include "playlist/playlist.h"

#include <cstring>

namespace {

void unref_sample(GstSample *sample) {
    gst_sample_unref(sample);
}
using GstSamplePtr = OwnedPtr<GstSample, unref_sample>;

class MutexLock {
  public:
    explicit MutexLock(GMutex *mutex) : mutex_(mutex) { g_mutex_lock(mutex_); }
    ~MutexLock() { g_mutex_unlock(mutex_); }
    MutexLock(const MutexLock &) = delete;
    MutexLock &operator=(const MutexLock &) = delete;

  private:
    GMutex *mutex_;
};

// Statically allocated GMutex needs no initialisation. The text lives in
// .bss: pages a short playlist never reaches are never made resident.
GMutex text_lock;
PlaylistText playlist_text;

} // namespace

bool PlaylistText::append(const void *data, std::size_t size) {
    const std::size_t room = sizeof bytes_ - size_;
    const std::size_t kept = size < room ? size : room;
    if (kept > 0) {
        memcpy(bytes_ + size_, data, kept);
        size_ += kept;
    }
    return size_ < sizeof bytes_;
}

GstElement *create_playlist_sink() {
    GstElement *sink = create_element("appsink", "myapp");
    if (!sink)
        return nullptr;
    // Owned outside any bin: it joins the pipeline only while sniffing, and
    // must survive being taken out of it again.
    gst_object_ref_sink(sink);
    GstAppSinkCallbacks callbacks = {};
    callbacks.new_sample = on_playlist_buffer;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, nullptr, nullptr);
    return sink;
}

GstFlowReturn on_playlist_buffer(GstAppSink *sink, gpointer) {
    GstSamplePtr sample(gst_app_sink_pull_sample(sink));
    GstBuffer *buffer = sample ? gst_sample_get_buffer(sample.get()) : nullptr;
    if (!buffer) {
        g_print("buffer is gone!!!\n");
        return GST_FLOW_OK;
    }
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        g_print("buffer is gone!!!\n");
        return GST_FLOW_OK;
    }
    bool room;
    {
        MutexLock lock(&text_lock);
        room = playlist_text.append(map.data, map.size);
    }
    gst_buffer_unmap(buffer, &map);
    // A full text means this is no playlist a station would serve (or the
    // server never stops sending): reading on could only wait forever, so
    // the playlist ends here and what fitted is parsed.
    return room ? GST_FLOW_OK : GST_FLOW_EOS;
}

gchar *take_redirect_location(bool *is_playlist) {
    MutexLock lock(&text_lock);
    const std::string_view text = playlist_text.view();
    const bool uri_list = player.uri_list_seen.load() == 1;
    // GStreamer's own recognition of a URI list is as good as a marker.
    if (is_playlist)
        *is_playlist = uri_list || has_playlist_marker(text);
    const auto found = find_playlist_location(text, uri_list);
    gchar *location = found ? g_strndup(text.data() + found->offset, found->length) : nullptr;
    playlist_text.clear();
    return location;
}
