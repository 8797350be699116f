#include "playlist/playlist.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

constexpr const char *kNone = "<no entry>";

std::string entry_of(std::string_view text, bool uri_list = false) {
    auto found = find_playlist_location(text, uri_list);
    if (!found) {
        return kNone;
    }
    EXPECT_LE(found->offset + found->length, text.size());
    return std::string(text.substr(found->offset, found->length));
}

TEST(PlsPlaylist, EntryEndsAtTheLineEnd) {
    EXPECT_EQ(entry_of("[playlist]\r\nNumberOfEntries=1\r\nFile1=http://radio.example/live\r\n"),
              "http://radio.example/live");
    EXPECT_EQ(entry_of("[playlist]\nFile1=http://a/b\nTitle1=x\n"), "http://a/b");
    // Text cut short after the entry: the entry runs to the end of what came.
    EXPECT_EQ(entry_of("[playlist]\nFile1=http://a/b"), "http://a/b");
}

TEST(PlsPlaylist, SchemePreferenceOrder) {
    EXPECT_EQ(entry_of("[playlist]\nFile1=HTTP://UP/1\nFile2=HTTP://UP/2\n"), "HTTP://UP/1");
    EXPECT_EQ(entry_of("[playlist]\nFile1=HTTP://UP/1\nFile2=http://low/2\n"), "http://low/2");
    EXPECT_EQ(entry_of("[playlist]\nFile1=https://s/1\nFile2=http://p/2\n"), "http://p/2");
    EXPECT_EQ(entry_of("[playlist]\nFile1=HTTPS://S/1\nFile2=https://s/2\n"), "https://s/2");
    EXPECT_EQ(entry_of("[playlist]\nFile1=HTTPS://S/1\n"), "HTTPS://S/1");
}

TEST(PlsPlaylist, OnlyTextAfterTheMarkerCounts) {
    // A location before the marker is not an entry; the key is never read,
    // so a location in a title that comes first wins.
    EXPECT_EQ(entry_of("http://before/\n[playlist]\nFile1=http://after/\n"), "http://after/");
    EXPECT_EQ(entry_of("[playlist]\nTitle1=see http://site/\nFile1=http://s/\n"), "http://site/");
    EXPECT_EQ(entry_of("http://before/\n[playlist]\nNumberOfEntries=0\n"), kNone);
    EXPECT_EQ(entry_of("[playlist]"), kNone);
    EXPECT_EQ(entry_of("[playlist]http:"), "http:");
}

TEST(PlsPlaylist, PlsMarkerWinsOverAsx) {
    EXPECT_EQ(entry_of("<ASX><Ref href=\"http://asx/\"/></ASX>[playlist]\n"), kNone);
}

TEST(AsxPlaylist, NumberOfReferencesDecidesWhichIsPlayed) {
    EXPECT_EQ(entry_of("<ASX version=\"3.0\"><Entry><Ref href=\"http://one/\"/></Entry></ASX>"),
              "http://one/");
    EXPECT_EQ(entry_of("<ASX><Ref href=\"http://1/\"/><Ref href=\"http://2/\"/></ASX>"),
              "http://2/");
    EXPECT_EQ(entry_of("<ASX><Ref href=\"http://1/\"/><Ref href=\"http://2/\"/>"
                       "<Ref href=\"http://3/\"/></ASX>"),
              "http://2/");
}

TEST(AsxPlaylist, LetterCaseOfMarkerAndReference) {
    EXPECT_EQ(entry_of("<?xml version=\"1.0\"?>\n<asx version=\"3.0\">\n"
                       "<entry><ref href=\"mms://low/\"/></entry></asx>"),
              "mms://low/");
    EXPECT_EQ(entry_of("<Asx><REF HREF=\"http://shout/\"/></Asx>"), "http://shout/");
    // Exact spellings are searched before any other, as they always were:
    // a later "<Ref href" is found ahead of an earlier "<ref href".
    EXPECT_EQ(entry_of("<ASX><ref href=\"http://a/\"/><ref href=\"http://b/\"/>"
                       "<Ref href=\"http://c/\"/></ASX>"),
              "http://c/");
    EXPECT_EQ(entry_of("<ASX><REF HREF=\"http://a/\"/><ref href=\"http://b/\"/></ASX>"),
              "http://b/");
    // A reference before the marker does not count.
    EXPECT_EQ(entry_of("<Ref href=\"http://early/\"/><ASX></ASX>"), kNone);
}

TEST(AsxPlaylist, BrokenQuotingGivesNoEntry) {
    EXPECT_EQ(entry_of("<ASX><Ref href=http://bare/></ASX>"), kNone);
    EXPECT_EQ(entry_of("<ASX><Ref href=\"http://unterminated/"), kNone);
    EXPECT_EQ(entry_of("<ASX><Ref href=\"\"/></ASX>"), kNone);
    EXPECT_EQ(entry_of("<ASX><Ref href"), kNone);
    EXPECT_EQ(entry_of("<ASX><Entry></Entry></ASX>"), kNone);
    // The quotes are searched from the chosen reference on, wherever they are.
    EXPECT_EQ(entry_of("<ASX><Ref href=x/><Title>\"t\"</Title>"), "t");
}

TEST(UriList, FirstLineThatIsNeitherBlankNorComment) {
    EXPECT_EQ(entry_of("http://first/\nhttp://second/\n", true), "http://first/");
    EXPECT_EQ(entry_of("#EXTM3U\r\n#EXTINF:-1,Radio\r\nhttp://m3u/\r\n", true), "http://m3u/");
    EXPECT_EQ(entry_of("\r\n\n  \t\n  http://indented/  \r\nhttp://x/\n", true),
              "http://indented/");
    EXPECT_EQ(entry_of("  # indented comment\nmms://s/\n", true), "mms://s/");
    EXPECT_EQ(entry_of("http://no-line-end/", true), "http://no-line-end/");
    EXPECT_EQ(entry_of("#EXTM3U\n#only comments\n\n", true), kNone);
    EXPECT_EQ(entry_of("", true), kNone);
    // The URI list rule applies even when the text happens to hold a marker.
    EXPECT_EQ(entry_of("[playlist]\nFile1=http://a/\n", true), "[playlist]");
}

// Bodies as stations and desktop editors write them: a byte-order mark, a
// header in another letter case, XSPF, an M3U that GStreamer did not type.
TEST(AnyBody, EntryAsEveryReaderFindsIt) {
    const std::string bom = "\xEF\xBB\xBF";
    const std::string xspf_head = "<?xml version=\"1.0\"?>\n<playlist version=\"1\" "
                                  "xmlns=\"http://xspf.org/ns/0/\">\n";
    struct Row {
        std::string text;
        bool uri_list;
        const char *entry;
    } rows[] = {
        {"[PLAYLIST]\r\nFile1=HTTP://A/\r\n", false, "HTTP://A/"},
        {bom + "mms://a/\nhttp://b/\n", false, "mms://a/"},
        {"#extm3u\n\nrelative.mp3\n", false, "relative.mp3"},
        {"http://short/", false, "http://short/"},
        {bom + "\xEF\xBB\xBFhttp://a/\n", false, kNone}, // one mark, not two
        {"a:b\nhttp://a/\n", false, kNone},
        {xspf_head + "<title>t</title><trackList>\n<track><location>\n  http://a/ "
                     "</location></track>\n<track><location>http://b/</location></track>\n"
                     "</trackList></playlist>",
         false, "http://a/"},
        {bom + "<PLAYLIST><TRACKLIST><TRACK><LOCATION>https://a/</LOCATION>", false, "https://a/"},
        {xspf_head + "<trackList><track><location>file:///a</location></track>"
                     "<track><location>http://b/</location></track></trackList>",
         false, kNone},
        {xspf_head + "<trackList/><location>http://a/</location>", false, kNone},
        {xspf_head + "<trackList><track><location>http://a/", false, kNone},
        {"<playlist><location>http://a/</location></playlist>", false, kNone},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(entry_of(row.text, row.uri_list), row.entry) << row.text;
    }
}

TEST(NoPlaylist, TextWithoutMarkerHasNoEntry) {
    EXPECT_EQ(entry_of("see http://looks/like/a/list\n"), kNone);
    EXPECT_EQ(entry_of("<html><body><a href=\"http://x/\">x</a></body></html>"), kNone);
    EXPECT_EQ(entry_of(""), kNone);
    EXPECT_EQ(entry_of("[playlis"), kNone);
}

TEST(NoPlaylist, MarkerSaysWhetherTextIsAPlaylistAtAll) {
    using namespace std::string_literals;
    // A playlist without a usable entry is still one; bytes that merely
    // hold a location are not.
    EXPECT_TRUE(has_playlist_marker("[playlist]\nNumberOfEntries=0\n"));
    EXPECT_TRUE(has_playlist_marker("[Playlist]\r\nFile1=ftp://x/\r\n"));
    EXPECT_TRUE(has_playlist_marker("<asx version=\"3.0\"></asx>"));
    EXPECT_TRUE(has_playlist_marker("junk <ASX>"));
    EXPECT_TRUE(has_playlist_marker("<?xml?><playlist><trackList/></playlist>"));
    EXPECT_TRUE(has_playlist_marker("\xEF\xBB\xBF#extm3u\n"));
    EXPECT_FALSE(has_playlist_marker(""));
    EXPECT_FALSE(has_playlist_marker("http://looks/like/a/list\n"));
    EXPECT_FALSE(has_playlist_marker("[playlis"));
    EXPECT_FALSE(has_playlist_marker("<html><title>Playlist not found</title></html>"));
    EXPECT_FALSE(has_playlist_marker("\xff\xfb\x90\0[playlist]"s));
}

TEST(HostileText, NulEndsTheText) {
    using namespace std::string_literals;
    EXPECT_EQ(entry_of("[playlist]\0\nFile1=http://hidden/\n"s), kNone);
    EXPECT_EQ(entry_of("[playlist]\nFile1=http://a/b\0tail\n"s), "http://a/b");
    EXPECT_EQ(entry_of("<ASX><Ref href=\"http://a/\0\"/></ASX>"s), kNone);
    EXPECT_EQ(entry_of("\0http://x/\n"s, true), kNone);
    EXPECT_EQ(entry_of("#c\nhttp://x/\0y\n"s, true), "http://x/");
}

TEST(HostileText, HugeLinesAndMissingTerminators) {
    std::string huge(1 << 20, 'a');
    EXPECT_EQ(entry_of("[playlist]\nFile1=http://" + huge), "http://" + huge);
    EXPECT_EQ(entry_of("<ASX><Ref href=\"" + huge), kNone);
    EXPECT_EQ(entry_of("<ASX>" + huge), kNone);
    EXPECT_EQ(entry_of(std::string(1 << 20, '#'), true), kNone);
    EXPECT_EQ(entry_of(std::string(1 << 20, '\n') + "http://late/", true), "http://late/");
}

// Random texts made of the pieces the parser reacts to: whatever the text, a
// found entry is not empty and lies inside the text, before any NUL.
TEST(HostileText, RandomTextNeverYieldsAnEntryOutsideIt) {
    using namespace std::string_literals;
    const std::string pieces[] = {"[playlist]", "<ASX",  "<asx",  "<Ref href", "<ref href",
                                  "<REF HREF",  "http:", "HTTP:", "https:",    "\"",
                                  "\r",         "\n",    "#",     " ",         "x",
                                  "="s,         "\0"s};
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    int found_count = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const std::size_t count = next() % 24;
        for (std::size_t i = 0; i < count; ++i) {
            text += pieces[next() % (sizeof pieces / sizeof pieces[0])];
        }
        const std::size_t nul = text.find('\0');
        for (bool uri_list : {false, true}) {
            auto found = find_playlist_location(text, uri_list);
            if (!found) {
                continue;
            }
            ++found_count;
            ASSERT_GT(found->length, 0u) << text;
            ASSERT_LE(found->offset + found->length, text.size()) << text;
            ASSERT_TRUE(nul == std::string::npos || found->offset + found->length <= nul) << text;
        }
    }
    // The texts must actually reach the entry paths for this to mean much.
    EXPECT_GT(found_count, 5000);
}

} // namespace
