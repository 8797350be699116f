// The decoder's "unknown-type" handler (runs on a streaming thread).
#pragma once

#include <gst/gst.h>

void on_unknown_type(GstElement *decoder, GstPad *pad, GstCaps *caps, gpointer data);
