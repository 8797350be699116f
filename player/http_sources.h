// What every HTTP source of the run gets, whoever made it.
#pragma once

#include <gst/gst.h>

// Bounded reads (http_block_size.h) and our certificate check
// (tls/certificate_check.h) for `source`. Calling it again for the same
// source changes nothing.
void prepare_http_source(GstElement *source);

// prepare_http_source for every HTTP source later added anywhere inside
// `pipeline`, at any depth: also those that elements make for themselves,
// such as the sources the HLS demuxer makes for its playlists and fragments.
void prepare_http_sources_within(GstElement *pipeline);
