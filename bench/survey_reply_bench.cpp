// The survey reply parser over a full 8192-byte reply buffer: the header and
// 70 records, the most the buffer holds.
#include "survey_reply.h"

#include "shared.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kRecords = (kSurveyBufferSize - kSurveyRecordSize) / kSurveyRecordSize;

// One record as the driver lays it out: channel, SSID, BSSID, security, and
// the WPS columns at 105 ("YES") and 110 ("PBC") when `pbc` is set.
void put_record(char *rec, int channel, const char *ssid, bool pbc) {
    std::memset(rec, ' ', kSurveyRecordSize);
    char channel_text[4];
    std::snprintf(channel_text, sizeof channel_text, "%3d", channel);
    std::memcpy(rec, channel_text, 3);
    std::memcpy(rec + 4, ssid, std::strlen(ssid));
    std::memcpy(rec + 37, "00:11:22:33:44:55", 17);
    std::memcpy(rec + 56, "WPA2PSK/AES", 11);
    if (pbc) {
        std::memcpy(rec + 105, "YES", 3);
        std::memcpy(rec + 110, "PBC", 3);
    }
    rec[kSurveyRecordSize - 1] = '\n';
}

// `pbc_at` is the record offering push-button configuration, or -1 for none.
// The buffer is all text: no NUL before its end, the worst case for the
// parser's bounds.
struct Reply {
    char buf[kSurveyBufferSize];
    explicit Reply(long pbc_at) {
        std::memset(buf, ' ', sizeof buf);
        std::memcpy(buf, "Ch  SSID", 8);
        buf[kSurveyRecordSize - 1] = '\n';
        for (size_t k = 0; k < kRecords; ++k) {
            char ssid[kSurveySsidMax + 1];
            std::snprintf(ssid, sizeof ssid, "Neighbour network %02zu", k);
            put_record(buf + kSurveyRecordSize * (k + 1), static_cast<int>(k % 13) + 1, ssid,
                       static_cast<long>(k) == pbc_at);
        }
    }
};

void run(benchmark::State &state, const Reply &reply, bool expect_chosen) {
    for (auto _ : state) {
        PbcAp ap;
        bool chosen = choose_pbc_ap(reply.buf, sizeof reply.buf, sizeof reply.buf, &ap, trim_r);
        benchmark::DoNotOptimize(chosen);
        benchmark::DoNotOptimize(ap);
    }
    PbcAp ap;
    if (choose_pbc_ap(reply.buf, sizeof reply.buf, sizeof reply.buf, &ap, trim_r) != expect_chosen)
        state.SkipWithError("the fixture does not parse as intended");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(sizeof reply.buf));
    state.counters["records"] = static_cast<double>(kRecords);
}

// 70 access points, the last one offering push-button configuration.
void BM_FullReplyOnePbcLast(benchmark::State &state) {
    static const Reply reply(static_cast<long>(kRecords) - 1);
    run(state, reply, true);
}
BENCHMARK(BM_FullReplyOnePbcLast);

// 70 access points, none offering it: the reply a survey gives until the
// button is pressed, over and over.
void BM_FullReplyNoPbc(benchmark::State &state) {
    static const Reply reply(-1);
    run(state, reply, false);
}
BENCHMARK(BM_FullReplyNoPbc);

} // namespace
