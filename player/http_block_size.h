// Bounded reads for the HTTP source.
#pragma once

#include <gst/gst.h>

// Largest buffer the HTTP source may read at once: four seconds of a
// 128 kbit/s station, more than any station needs per read.
constexpr guint kHttpMaxBlockSize = 64 * 1024;

// souphttpsrc doubles its read size whenever a read fills it and has no
// upper limit, so a server that sends faster than real time (a burst on
// connect, a player that fell behind, a fast local link) drives single
// buffers to tens of MB, and the heap keeps the high-water mark for good.
// Holds `source`'s block size at kHttpMaxBlockSize at most. Calling it again
// for the same source changes nothing.
void limit_http_block_size(GstElement *source);
