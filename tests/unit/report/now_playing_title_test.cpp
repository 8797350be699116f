#include "report/now_playing_title.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string built(std::string_view artist, std::string_view title) {
    TitleText text;
    build_title_text(artist, title, &text);
    EXPECT_LE(text.length, kTitleMaxBytes);
    return std::string(text.bytes, text.length);
}

TEST(NowPlayingTitle, ArtistJoinsOnlyWhenBothAreKnown) {
    EXPECT_EQ("Band - Song", built("Band", "Song"));
    EXPECT_EQ("Song", built("", "Song"));
    // An artist alone is no title: nothing to show.
    EXPECT_EQ("", built("Band", ""));
    EXPECT_EQ("", built("", ""));
}

TEST(NowPlayingTitle, EveryLineBreakingOrControlCharacterBecomesOneSpace) {
    EXPECT_EQ("a b  c d e", built("", "a\nb\r\nc\td\x7f"
                                      "e"));
    EXPECT_EQ("A B - x y", built("A\nB", "x\x1by"));
    // C1 controls, NEL (U+0085) among them; neighbours of C2 stay intact.
    EXPECT_EQ("a b c\xc2\xa0\xc2\xa9", built("", "a\xc2\x85"
                                                 "b\xc2\x9f"
                                                 "c\xc2\xa0\xc2\xa9"));
    // Line and paragraph separators (U+2028, U+2029); their neighbours stay.
    EXPECT_EQ("a b c\xe2\x80\xa7\xe2\x80\xaa", built("", "a\xe2\x80\xa8"
                                                         "b\xe2\x80\xa9"
                                                         "c\xe2\x80\xa7\xe2\x80\xaa"));
    // Other text, invalid or not, is passed on as received.
    EXPECT_EQ("Caf\xc3\xa9 \xe2\x80\x94 \xff", built("", "Caf\xc3\xa9 \xe2\x80\x94 \xff"));
}

TEST(NowPlayingTitle, LongTextIsCutAtACharacterBoundary) {
    EXPECT_EQ(std::string(kTitleMaxBytes, 'x'), built("", std::string(kTitleMaxBytes, 'x')));
    EXPECT_EQ(std::string(kTitleMaxBytes, 'x'), built("", std::string(5000, 'x')));

    // Two-, three- and four-byte characters that straddle the limit go whole.
    for (const std::string ch : {"\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x8e\xb5"}) {
        std::string title = "y";
        while (title.size() < 2 * kTitleMaxBytes)
            title += ch;
        const std::string got = built("", title);
        const size_t whole = (kTitleMaxBytes - 1) / ch.size();
        EXPECT_EQ(title.substr(0, 1 + whole * ch.size()), got) << ch.size();
    }

    // The artist is cut first, at a character boundary, so that the title
    // is always there; the separator only with some artist before it.
    const std::string song = "Song\xe2\x80\xa8!";
    for (const size_t artist_bytes : {kTitleMaxBytes - 8, kTitleMaxBytes, 4 * kTitleMaxBytes}) {
        std::string artist;
        while (artist.size() < artist_bytes)
            artist += "\xc3\xa9";
        const std::string got = built(artist, song);
        EXPECT_EQ(kTitleMaxBytes - 1, got.size()) << artist_bytes;
        EXPECT_EQ(artist.substr(0, kTitleMaxBytes - 10) + " - Song !", got) << artist_bytes;
    }
    EXPECT_EQ("a - " + std::string(kTitleMaxBytes - 4, 't'),
              built("artist", std::string(kTitleMaxBytes - 4, 't')));
    EXPECT_EQ(std::string(kTitleMaxBytes - 3, 't'),
              built("artist", std::string(kTitleMaxBytes - 3, 't')));
    // A control character that reaches the limit still counts one byte.
    EXPECT_EQ(std::string(kTitleMaxBytes - 1, 'z') + " ",
              built("", std::string(kTitleMaxBytes - 1, 'z') + "\xc2\x85tail"));
}

} // namespace
