// The pipeline's bus watch: every decision about the running pipeline.
#pragma once

#include <gst/gst.h>

// Returns TRUE on every path that returns; the ends of the run exit.
gboolean my_bus_callback(GstBus *bus, GstMessage *message, gpointer main_loop);
