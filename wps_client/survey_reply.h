// Choosing the one push-button access point from a driver survey reply.
//
// The reply is NUL-terminated text: a 115-byte header, then 115-byte records
// back to back. Per record: channel in bytes 0-2 (blank-filled decimal), SSID
// in bytes 4-35 (left-aligned, blank-padded), "YES" in bytes 105-107 and "PBC"
// in bytes 110-112 for an access point offering push-button configuration.
#ifndef WPS_CLIENT_SURVEY_REPLY_H
#define WPS_CLIENT_SURVEY_REPLY_H

#include <stddef.h>

// The survey buffer: room for the header and 70 whole records (8165 bytes).
constexpr size_t kSurveyBufferSize = 8192;
constexpr size_t kSurveyRecordSize = 115;
constexpr size_t kSurveySsidMax = 32;

struct PbcAp {
    char ssid[kSurveySsidMax + 1]; // trailing blanks removed, never empty
    int channel;
};

// Removes trailing blanks of a NUL-terminated text in place: the platform's
// trim_r, which decides what a blank is on the router.
using TrimRight = char *(*)(char *text);

// Examines the reply in `buf` (`size` bytes; only these bytes are ever read)
// whose length the driver reported as `reported_len`. Returns true and fills
// `*out` when exactly one record is a PBC access point and its SSID, trimmed
// by `trim`, is not empty; otherwise returns false and leaves `*out`
// untouched. `trim` only ever sees a copy of the SSID field.
//
// Text without a NUL inside `buf` ends at the end of `buf`; bytes past the
// text read as NUL; a record that would reach past the end of `buf` is not
// examined, nor any after it. A reported length of 0 means "no reply".
bool choose_pbc_ap(const char *buf, size_t size, unsigned reported_len, PbcAp *out, TrimRight trim);

// The channel column as atoi() reads it: leading white space skipped, an
// optional sign, then decimal digits; 0 when there is no number.
int survey_channel_value(const char field[3]);

#endif
