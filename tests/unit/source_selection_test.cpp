#include "source_selection.h"

#include <gtest/gtest.h>

namespace {

TEST(SourceSelection, SchemesChooseTheirSourceWhateverTheirCase) {
    struct Case {
        const char *location;
        SourceKind kind;
        const char *factory;
        int is_http;
    } cases[] = {
        {"http://h/s", SourceKind::Http, "souphttpsrc", 1},
        {"HTTP://host/x", SourceKind::Http, "souphttpsrc", 1},
        // A secure stream is HTTP too; the file source could never open it.
        {"https://h/s", SourceKind::Http, "souphttpsrc", 1},
        {"HtTpS://h/s", SourceKind::Http, "souphttpsrc", 1},
        {"mms://h/s", SourceKind::Mms, "mmssrc", 0},
        {"Mms://host/x", SourceKind::Mms, "mmssrc", 0},
        {"MMSH://h/s", SourceKind::Mms, "mmssrc", 0},
        {"smb://srv/music/a.mp3", SourceKind::Smb, "filesrc", 0},
        {"SMB://srv/music/a.mp3", SourceKind::Smb, "filesrc", 0},
        {"/media/x.mp3", SourceKind::File, "filesrc", 0},
        {"", SourceKind::File, "filesrc", 0},
        // Only a whole prefix counts.
        {"http", SourceKind::File, "filesrc", 0},
        {"httpx://h", SourceKind::File, "filesrc", 0},
        {"mmsx://h", SourceKind::File, "filesrc", 0},
        {"./http://h", SourceKind::File, "filesrc", 0},
    };
    for (const Case &c : cases) {
        SourceChoice choice = select_source(c.location);
        EXPECT_EQ(c.kind, choice.kind) << c.location;
        EXPECT_STREQ(c.factory, choice.factory) << c.location;
        EXPECT_EQ(c.is_http, choice.is_http) << c.location;
    }
}

TEST(SourceSelection, PlaylistEntriesPlayFromTheNetworkOnly) {
    EXPECT_EQ(SourceKind::Mms, select_redirect_source("mmsh://h/s").kind);
    EXPECT_EQ(SourceKind::Mms, select_redirect_source("MMS://h/s").kind);
    EXPECT_EQ(SourceKind::Http, select_redirect_source("http://h/s").kind);
    // A playlist must not make the player open local files.
    EXPECT_EQ(SourceKind::Http, select_redirect_source("/etc/passwd").kind);
    EXPECT_EQ(SourceKind::Http, select_redirect_source("smb://h/s/x").kind);
}

} // namespace
