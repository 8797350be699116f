// The station list line rewrite: the decision taken for every line of the
// list when a station's measured bitrate is recorded, and the rebuild of the
// longest line the list may hold.
#include "bitrate/station_list.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kBitrate = 128000;

std::string station_line(int n) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "[\"Station %d\",\"http://radio%d.example/stream\",\"Genre %d\",\" 96kbps\","
                  "radio%d]\n",
                  n, n, n % 17, n);
    return line;
}

// A list of `count` stations; the one being recorded is the last.
std::vector<std::string> station_list(int count) {
    std::vector<std::string> lines;
    for (int n = 0; n < count; ++n)
        lines.push_back(station_line(n));
    return lines;
}

// One pass over the whole list, as the recording makes it: every line but
// one is kept, the station's own line is rewritten in place.
void BM_PlanWholeList(benchmark::State &state) {
    const std::vector<std::string> lines = station_list(static_cast<int>(state.range(0)));
    const std::string key = "radio" + std::to_string(state.range(0) - 1);
    char out[kListLineMax + 1];
    size_t bytes = 0;
    for (const std::string &l : lines)
        bytes += l.size();
    int changed = 0;
    for (auto _ : state) {
        changed = 0;
        for (const std::string &l : lines) {
            ListLinePlan plan = plan_list_line(l, key, kBitrate, out, sizeof out);
            changed += plan.change != ListLineChange::keep;
            benchmark::DoNotOptimize(plan);
        }
    }
    if (changed != 1)
        state.SkipWithError("the fixture does not rewrite exactly one line");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(lines.size()));
}
BENCHMARK(BM_PlanWholeList)->Arg(100)->Arg(1000);

// The longest piece the list reader hands over, with the key and the third
// comma at its far end: the key search and the comma search each cross it.
void BM_RebuildLongestLine(benchmark::State &state) {
    const std::string key = "radio42";
    const std::string tail = ",\"128kbps\"," + key + "]\n";
    const std::string fields = "\",\"\",\"\"";
    std::string line = "[\"";
    line.append(kListLineMax - line.size() - fields.size() - tail.size(), 'x');
    line += fields;
    line += tail;
    char out[kListLineMax + 1];
    for (auto _ : state) {
        ListLinePlan plan = plan_list_line(line, key, kBitrate, out, sizeof out);
        benchmark::DoNotOptimize(plan);
    }
    if (line.size() != kListLineMax ||
        plan_list_line(line, key, kBitrate, out, sizeof out).change != ListLineChange::in_place)
        state.SkipWithError("the fixture is not a longest line rewritten in place");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(line.size()));
}
BENCHMARK(BM_RebuildLongestLine);

} // namespace
