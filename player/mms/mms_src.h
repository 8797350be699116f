// Our own source element for "mms:" and "mmsh:" locations (Windows Media
// streams over MMS/TCP or MMS over HTTP), built on libmms. GStreamer as
// installed on the router has none, so the player brings it.
#pragma once

#include <gst/gst.h>

GType mms_src_get_type();

// Makes the element available under the factory name "mmssrc", unless the
// installed GStreamer already has a factory of that name. Call once, right
// after gst_init(). False only if registration itself failed.
bool mms_src_register();
