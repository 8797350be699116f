// Building blocks of the player's pipelines. The first pipeline and the one
// built for a playlist's entry are made from the same pieces, only named
// differently.
#pragma once

#include <gst/gst.h>

// New pipeline `name` with `bus_watch` watching its bus (main_loop as user
// data). Becomes player.pipeline. The watch is passed in because the bus
// handler sits above everything that builds pipelines.
GstElement *create_pipeline(const char *name, GstBusFunc bus_watch);

// Element from `factory` named `name`. A factory that is not installed ends
// the run like any pipeline error: an error naming the element is posted on
// the current pipeline's bus, and null is returned.
GstElement *create_element(const char *factory, const char *name);

// Source element with its "location" set; null as for create_element.
GstElement *create_source(const char *factory, const char *name, const char *location);

// Decoder bin with on_pad_added and on_unknown_type connected.
GstElement *create_decoder(const char *name);

// Bin `bin_name`: audioconvert `convert_name` -> audio sink `sink_name`,
// with a ghost pad "sink". The sink is "alsasink", or the single element
// that SORVEL_AUDIO_SINK describes (gst-launch syntax) on machines without
// a sound card. Null when an element cannot be made (error posted).
GstElement *create_audio_bin(const char *bin_name, const char *convert_name, const char *sink_name);

// Adds source and decoder to `pipeline` and links them, then adds the audio
// bin (linked later, by on_pad_added). Missing pieces are skipped: their
// error is on the bus already.
void add_stream_elements(GstElement *pipeline, GstElement *source, GstElement *decoder,
                         GstElement *audio_bin);

// Posts an error from the current pipeline, as if one of its elements had
// failed, so that the bus handler ends the run the one usual way.
void post_pipeline_error(GQuark domain, int code, const char *message);

// "pad-added" of every decoder: the first audio pad goes to the audio bin.
void on_pad_added(GstElement *decoder, GstPad *pad, gpointer data);
