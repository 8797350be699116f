// "/tmp/title.txt": what the stream says is playing now, for the router's
// pages. Main-loop thread only.
#pragma once

#include <gst/gst.h>

// Takes the title (and artist) from a tag message of the current pipeline
// and rewrites the title file when the text changes. Tags that carry no
// title leave the file as it is; an empty title removes it.
void note_title_tags(GstMessage *message);
