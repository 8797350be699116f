#include "playlist/playlist_detection.h"

#include <gst/gst.h>

namespace {

constexpr std::string_view kDecoderName = "decoder";
constexpr std::string_view kTypefindName = "typefind";
constexpr std::string_view kTextFileMessage = "This appears to be a text file";

// A long text: the decoder recognises it as text and refuses it. The code
// identifies it under any locale; the exact message is accepted too, from
// any element, for an element that reports text only in words.
bool is_text_file_error(const BusErrorFacts &facts) {
    if (facts.message == kTextFileMessage) {
        return true;
    }
    return facts.domain == ErrorDomain::stream && facts.code == GST_STREAM_ERROR_WRONG_TYPE &&
           facts.source_name == kDecoderName;
}

// A short text (a one-entry PLS or ASX of a hundred bytes or so) is too
// little for typefinding to decide on, so the decoder's typefinder reports
// the type as unknown instead. On an http: source that is the same event.
bool is_short_text_error(const BusErrorFacts &facts) {
    return facts.domain == ErrorDomain::stream && facts.code == GST_STREAM_ERROR_TYPE_NOT_FOUND &&
           facts.source_name == kTypefindName && facts.parent_name == kDecoderName;
}

// XSPF of more than a few hundred bytes is typed as XML, which no element
// decodes: the decoder reports the type as unknown, then gives up.
bool is_xml_error(const BusErrorFacts &facts) {
    const bool xml =
        facts.unknown_type == "application/xml" || facts.unknown_type == "application/xspf+xml";
    return xml && facts.domain == ErrorDomain::core &&
           facts.code == GST_CORE_ERROR_MISSING_PLUGIN && facts.source_name == kDecoderName;
}

} // namespace

ErrorRoute route_bus_error(const BusErrorFacts &facts) {
    if (facts.phase != PlaylistPhase::starting) {
        // The decoder (and whatever it held) went away at the switch to the
        // playlist sink; an error it had already posted speaks of nothing
        // that still exists.
        if (!facts.from_current_pipeline) {
            return ErrorRoute::ignore;
        }
        // One level of playlist is followed: while reading it and once its
        // entry plays, every error is the run's end, a nested playlist too.
        return ErrorRoute::report;
    }
    // The decoder reported a URI list before failing on it; its error is
    // just how it gives up.
    if (facts.source_name == kDecoderName && facts.redirect_count == 1) {
        return ErrorRoute::read_uri_list;
    }
    // An empty body, or one no one can identify, looks just like a short
    // text; an error page like a long one.
    if (facts.is_http == 1 &&
        (is_text_file_error(facts) || is_short_text_error(facts) || is_xml_error(facts))) {
        return ErrorRoute::read_playlist;
    }
    return ErrorRoute::report;
}
