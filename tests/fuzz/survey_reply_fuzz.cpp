// The driver's survey reply in the client's 8192-byte buffer, cleared before
// the request as the client does, with the length the driver reports.
#include "fuzz_input.h"
#include "shared.h"
#include "survey_reply.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzInput in(data, size);
    const unsigned reported = in.word();
    const bool cleared = in.byte() & 1;
    const std::string_view reply = in.rest();

    static char buf[kSurveyBufferSize];
    // Not cleared: a driver that fills the whole buffer without a NUL.
    std::memset(buf, cleared ? 0 : 'x', sizeof buf);
    std::memcpy(buf, reply.data(), std::min(reply.size(), sizeof buf));

    PbcAp ap;
    std::memset(&ap, 0x5a, sizeof ap);
    const PbcAp untouched = ap;
    if (!choose_pbc_ap(buf, sizeof buf, reported, &ap, trim_r)) {
        FUZZ_CHECK(std::memcmp(&ap, &untouched, sizeof ap) == 0);
        return 0;
    }
    const std::size_t len = strnlen(ap.ssid, sizeof ap.ssid);
    FUZZ_CHECK(len > 0 && len <= kSurveySsidMax);
    FUZZ_CHECK(ap.ssid[len - 1] != ' ');
    // The SSID is the start of some record's SSID field.
    bool from_a_record = false;
    for (std::size_t at = kSurveyRecordSize; at + kSurveyRecordSize <= sizeof buf;
         at += kSurveyRecordSize) {
        if (std::memcmp(buf + at + 4, ap.ssid, len) == 0 &&
            ap.channel == survey_channel_value(buf + at))
            from_a_record = true;
    }
    FUZZ_CHECK(from_a_record);
    return 0;
}
