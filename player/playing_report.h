// The report written each time the pipeline reaches PLAYING: duration file,
// status "PLAYING" with its "bitrate,samplerate" line, "radio_preparing".
#pragma once

#include <cstddef>
#include <gst/gst.h>

// Whole seconds of the duration; 0 when either query failed or the stream
// has no known duration.
unsigned long long duration_seconds(bool position_known, bool duration_known, gint64 duration_ns);

// Bitrate from the first line of "/tmp/irate". atoi semantics on purpose:
// other components write it loosely ("128000\n", "128000 bps").
int irate_bitrate(const char *line);

// Formats the third status line into out ("%d,%s", "0,%s" or "%d,0").
// rate is the serialized sample rate or null.
void format_playing_line(int bitrate, const char *rate, char *out, size_t size);

// Steps of the report, in order. Returns the bitrate "/tmp/irate" gave (0
// for none), for the station's recording.
int report_playing();

// The duration again, after the pipeline said it changed: parsers of
// streams without a length header learn it only once playing. Rewrites the
// duration file when the whole seconds differ from what it holds.
void refresh_duration();
