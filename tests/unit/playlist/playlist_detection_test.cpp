#include "playlist/playlist_detection.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

namespace {

// The three forms GStreamer takes on an http: source, as the decoder posts
// them: a long text, a short text, and a URI list's missing plug-in.
BusErrorFacts long_text() {
    BusErrorFacts f{};
    f.source_name = "decoder";
    f.parent_name = "pipeline";
    f.from_current_pipeline = true;
    f.domain = ErrorDomain::stream;
    f.code = GST_STREAM_ERROR_WRONG_TYPE;
    f.message = "This appears to be a text file";
    f.is_http = 1;
    f.phase = PlaylistPhase::starting;
    return f;
}

BusErrorFacts short_text() {
    BusErrorFacts f = long_text();
    f.source_name = "typefind";
    f.parent_name = "decoder";
    f.code = GST_STREAM_ERROR_TYPE_NOT_FOUND;
    f.message = "Could not determine type of stream.";
    return f;
}

BusErrorFacts uri_list_gave_up() {
    BusErrorFacts f = long_text();
    f.domain = ErrorDomain::core;
    f.code = GST_CORE_ERROR_MISSING_PLUGIN;
    f.message = "Your GStreamer installation is missing a plug-in.";
    f.redirect_count = 1;
    return f;
}

// A longer XSPF: typed XML, then the decoder's missing plug-in.
BusErrorFacts xml_gave_up() {
    BusErrorFacts f = uri_list_gave_up();
    f.redirect_count = 0;
    f.unknown_type = "application/xml";
    return f;
}

TEST(PlaylistDetection, EachFormOnHttpIsRead) {
    EXPECT_EQ(route_bus_error(long_text()), ErrorRoute::read_playlist);
    // What GStreamer cannot identify may be a short playlist, or nothing.
    EXPECT_EQ(route_bus_error(short_text()), ErrorRoute::read_playlist);
    EXPECT_EQ(route_bus_error(xml_gave_up()), ErrorRoute::read_playlist);
    EXPECT_EQ(route_bus_error(uri_list_gave_up()), ErrorRoute::read_uri_list);
}

TEST(PlaylistDetection, TranslatedMessagesStillRecognised) {
    BusErrorFacts f = long_text();
    f.message = "Dies scheint eine Textdatei zu sein";
    EXPECT_EQ(route_bus_error(f), ErrorRoute::read_playlist);
    f = short_text();
    f.message = "Der Typ des Datenstroms konnte nicht bestimmt werden.";
    EXPECT_EQ(route_bus_error(f), ErrorRoute::read_playlist);
    // The English text is enough on its own, whatever posted it.
    f = long_text();
    f.source_name = "source";
    f.domain = ErrorDomain::other;
    EXPECT_EQ(route_bus_error(f), ErrorRoute::read_playlist);
}

TEST(PlaylistDetection, OnlyHttpSourcesAreReadAsPlaylists) {
    for (BusErrorFacts f : {long_text(), short_text(), xml_gave_up()}) {
        f.is_http = 0;
        EXPECT_EQ(route_bus_error(f), ErrorRoute::report);
    }
}

TEST(PlaylistDetection, LookalikeErrorsAreReported) {
    BusErrorFacts f = short_text();
    f.parent_name = "pipeline"; // a typefinder that is not the decoder's
    EXPECT_EQ(route_bus_error(f), ErrorRoute::report);
    f = short_text();
    f.domain = ErrorDomain::resource;
    EXPECT_EQ(route_bus_error(f), ErrorRoute::report);
    f = long_text();
    f.source_name = "decoder2";
    f.message = "";
    EXPECT_EQ(route_bus_error(f), ErrorRoute::report);
    // A missing plug-in without a URI list seen is just a missing plug-in.
    f = uri_list_gave_up();
    f.redirect_count = 0;
    EXPECT_EQ(route_bus_error(f), ErrorRoute::report);
    // ... and so it is after any type that is not XML (HTML among them).
    f = xml_gave_up();
    f.unknown_type = "text/html";
    EXPECT_EQ(route_bus_error(f), ErrorRoute::report);
    // A failing http: source (404, refused) ends the run.
    f = long_text();
    f.source_name = "source";
    f.domain = ErrorDomain::resource;
    f.code = GST_RESOURCE_ERROR_NOT_FOUND;
    f.message = "Not Found";
    EXPECT_EQ(route_bus_error(f), ErrorRoute::report);
}

TEST(PlaylistDetection, ErrorsFromReleasedElementsAreIgnored) {
    for (PlaylistPhase phase : {PlaylistPhase::sniffing, PlaylistPhase::redirected}) {
        for (BusErrorFacts f : {long_text(), short_text(), uri_list_gave_up()}) {
            f.phase = phase;
            f.from_current_pipeline = false;
            EXPECT_EQ(route_bus_error(f), ErrorRoute::ignore);
        }
    }
}

TEST(PlaylistDetection, OneLevelOfPlaylistIsFollowed) {
    // While the playlist is read, the source's own failure ends the run.
    BusErrorFacts f = long_text();
    f.phase = PlaylistPhase::sniffing;
    f.source_name = "source";
    f.domain = ErrorDomain::resource;
    EXPECT_EQ(route_bus_error(f), ErrorRoute::report);
    // A playlist inside the playlist's entry, in every form, ends it too.
    for (BusErrorFacts nested : {long_text(), short_text(), uri_list_gave_up(), xml_gave_up()}) {
        nested.phase = PlaylistPhase::redirected;
        nested.source_name = nested.source_name == "typefind" ? "typefind" : "decoder2";
        nested.parent_name = nested.source_name == "typefind" ? "decoder2" : "pipeline2";
        EXPECT_EQ(route_bus_error(nested), ErrorRoute::report);
    }
}

} // namespace
