#include "survey_reply.h"

#include <stdlib.h>
#include <string.h>

namespace {

constexpr size_t kHeaderSize = 115;
constexpr size_t kChannelOffset = 0;
constexpr size_t kChannelWidth = 3;
constexpr size_t kSsidOffset = 4;
constexpr size_t kYesOffset = 105;
constexpr size_t kPbcOffset = 110;

// One record, with the bytes past the end of the reply text reading as NUL.
// `avail` is how many of its bytes belong to the text (at most a record).
struct RecordView {
    const char *p;
    size_t avail;

    char at(size_t i) const { return i < avail ? p[i] : '\0'; }

    bool column_is(size_t offset, const char (&word)[4]) const {
        return at(offset) == word[0] && at(offset + 1) == word[1] && at(offset + 2) == word[2];
    }
};

// The SSID field as a C string cut at its first NUL, then trimmed on the right.
void copy_ssid(const RecordView &rec, char (&ssid)[kSurveySsidMax + 1], TrimRight trim) {
    size_t n = 0;
    while (n < kSurveySsidMax && rec.at(kSsidOffset + n) != '\0') {
        ssid[n] = rec.at(kSsidOffset + n);
        ++n;
    }
    ssid[n] = '\0';
    (void)trim(ssid);
    // Whatever the trim did, the text stays inside the field.
    ssid[kSurveySsidMax] = '\0';
}

} // namespace

int survey_channel_value(const char field[3]) {
    // A NUL-terminated copy, as atoi needs; three digits cannot overflow.
    char text[kChannelWidth + 1] = {};
    memcpy(text, field, kChannelWidth);
    return atoi(text);
}

bool choose_pbc_ap(const char *buf, size_t size, unsigned reported_len, PbcAp *out,
                   TrimRight trim) {
    if (reported_len == 0 || size <= kHeaderSize)
        return false;

    // The text after the header, bounded by the buffer even without a NUL.
    const char *records = buf + kHeaderSize;
    const size_t text_len = strnlen(records, size - kHeaderSize);
    // Only records that lie wholly inside the buffer can be examined.
    const size_t whole_records = (size - kHeaderSize) / kSurveyRecordSize;

    PbcAp found{};
    int pbc_count = 0;
    for (size_t k = 0; k < whole_records && k * kSurveyRecordSize < text_len; ++k) {
        const size_t start = k * kSurveyRecordSize;
        const size_t rest = text_len - start;
        const RecordView rec{records + start, rest < kSurveyRecordSize ? rest : kSurveyRecordSize};
        if (!rec.column_is(kYesOffset, "YES") || !rec.column_is(kPbcOffset, "PBC"))
            continue;
        // A later PBC access point of the same reply replaces an earlier one.
        copy_ssid(rec, found.ssid, trim);
        char channel[kChannelWidth];
        for (size_t i = 0; i < kChannelWidth; ++i)
            channel[i] = rec.at(kChannelOffset + i);
        found.channel = survey_channel_value(channel);
        ++pbc_count;
    }

    if (pbc_count != 1 || found.ssid[0] == '\0')
        return false;
    *out = found;
    return true;
}
