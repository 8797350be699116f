// What the HTTP source's answers say about the stream, learnt on the
// source's streaming thread as each answer's headers pass its pad: whether
// it is live (reconnect.h bridges only those), whether its body ends with a
// final chunk, whether a connection's data has ended. And a source whose
// server ignores byte ranges is made one that cannot seek.
#pragma once

#include <gst/gst.h>

// Every HTTP source made (the first one and a playlist entry's).
void watch_http_source(GstElement *source);

bool source_stream_is_live();
bool source_stream_is_chunked();
// The current connection's data has ended (the source sent its end).
bool source_data_ended();
void forget_source_data_end();

// From now on the source answers every question about seeking with "no",
// and drops seeks.
void make_source_unseekable();
bool source_cannot_seek();
