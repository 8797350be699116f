// The application sink that reads a playlist while the player is sniffing.
//
// Threads: on_playlist_buffer runs on the sink's streaming thread and only
// copies bytes into the playlist text; the main thread reads that text after
// the playlist's end of stream and decides. The text is guarded by a mutex,
// so neither side ever sees the other's half-done work.
#pragma once

#include <cstddef>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <string_view>

// A playlist is a few hundred bytes; this keeps several thousand entries'
// worth of text and bounds what a hostile server can make us hold.
inline constexpr std::size_t kPlaylistTextCapacity = 64 * 1024;

// Bounded copy of the playlist text received so far, in arrival order.
class PlaylistText {
  public:
    // Keeps what fits of the bytes; returns false once the text is full, so
    // that the reader can stop early (the rest would be dropped anyway).
    bool append(const void *data, std::size_t size);
    std::string_view view() const { return std::string_view(bytes_, size_); }
    void clear() { size_ = 0; }

  private:
    char bytes_[kPlaylistTextCapacity];
    std::size_t size_ = 0;
};

// The "myapp" application sink, with on_playlist_buffer as its only
// callback. The caller owns the returned (non-floating) reference.
GstElement *create_playlist_sink();

// New-sample callback: appends the sample's bytes to the playlist text.
// Ends the playlist stream (GST_FLOW_EOS) once the text is full.
GstFlowReturn on_playlist_buffer(GstAppSink *sink, gpointer user_data);

// Main thread: the location named by the playlist text received so far
// (a URI list when uri_list_seen is set), as a new string for g_free, or
// null when the text names none; `*is_playlist` (when given) says whether
// the text carries a playlist marker at all (or was typed a URI list). The
// text is released either way: the location is handed over once.
gchar *take_redirect_location(bool *is_playlist = nullptr);
