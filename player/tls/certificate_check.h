// Knowing why a station's certificate was refused. The HTTP source checks
// certificates through a database of ours that hands every check to the
// system's trust store and remembers what it refused; the bus handler asks
// for the words when the source then fails.
#pragma once

#include <cstddef>
#include <gst/gst.h>

// Has the HTTP source `source` check certificates through that database.
// Main thread, while the source is being made.
void check_station_certificates(GstElement *source);

// When `error` comes from an HTTP source and a certificate was refused,
// writes the message that says so into out and returns true.
bool describe_station_certificate_error(GstMessage *error, char *out, std::size_t out_len);
