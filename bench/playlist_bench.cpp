// The playlist parser over 64 KiB of text, the most a playlist download is
// allowed to hand it. Each case puts the one entry where the parser finds it
// last, or leaves it out, so the whole text is scanned.
#include "playlist/playlist.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>

namespace {

constexpr std::size_t kTextBytes = 64 * 1024;

// Fills `text` with copies of `line` until `tail` still fits in 64 KiB, then
// appends `tail`; the result is exactly kTextBytes long (padded with blanks
// before the tail).
std::string fill(std::string head, const std::string &line, const std::string &tail) {
    std::string text = std::move(head);
    while (text.size() + line.size() + tail.size() <= kTextBytes)
        text += line;
    text.append(kTextBytes - text.size() - tail.size(), ' ');
    text += tail;
    return text;
}

void run(benchmark::State &state, const std::string &text, bool uri_list, bool expect_entry) {
    for (auto _ : state) {
        auto found = find_playlist_location(text, uri_list);
        benchmark::DoNotOptimize(found);
    }
    if (find_playlist_location(text, uri_list).has_value() != expect_entry)
        state.SkipWithError("the fixture does not parse as intended");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}

// PLS: titles first, the only location on the last line, upper-case https
// so every scheme in the preference order is searched for in turn.
void BM_PlsEntryLast(benchmark::State &state) {
    static const std::string text =
        fill("[playlist]\r\n", "Title1=Late night jazz from the archive\r\n",
             "\r\nFile1=HTTPS://STREAM.EXAMPLE/LIVE\r\n");
    run(state, text, false, true);
}
BENCHMARK(BM_PlsEntryLast);

// ASX whose references are spelt in neither exact case: the case-blind
// search runs over the whole text twice.
void BM_AsxMixedCaseRefsLast(benchmark::State &state) {
    static const std::string text =
        fill("<asx version=\"3.0\">\n", "<entry><title>Station</title><abstract/></entry>\n",
             "<rEf hReF=\"http://a.example/1\"/><rEf hReF=\"http://a.example/2\"/></asx>\n");
    run(state, text, false, true);
}
BENCHMARK(BM_AsxMixedCaseRefsLast);

// URI list (M3U): comment lines, the only entry last.
void BM_UriListEntryLast(benchmark::State &state) {
    static const std::string text =
        fill("#EXTM3U\n", "#EXTINF:-1,Some station name - some description\n",
             "\nhttp://stream.example/live.ogg\n");
    run(state, text, true, true);
}
BENCHMARK(BM_UriListEntryLast);

// XSPF: a long title list before the track list, its one location last.
void BM_XspfLocationLast(benchmark::State &state) {
    static const std::string text =
        fill("<?xml version=\"1.0\"?>\n<playlist version=\"1\"><title>",
             "A station with a long description of itself. ",
             "</title><trackList><track><location>http://a.example/live</location></track>"
             "</trackList></playlist>\n");
    run(state, text, false, true);
}
BENCHMARK(BM_XspfLocationLast);

// Hostile text: no marker, but "<as" over and over, so the case-blind
// marker search keeps matching three characters and failing on the fourth.
void BM_NoMarkerNearMisses(benchmark::State &state) {
    static const std::string text = fill("", "<as", "");
    run(state, text, false, false);
}
BENCHMARK(BM_NoMarkerNearMisses);

} // namespace
