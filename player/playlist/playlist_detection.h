// Decides what a pipeline error means for playlist handling: whether an
// http: location turned out to be a playlist to read, whether the error
// comes from an element already released, or whether it ends the run.
// Pure: the bus handler gathers the facts, this only decides.
#pragma once

#include <string_view>

// Where the run stands with respect to playlists.
enum class PlaylistPhase {
    starting,   // first pipeline: source -> decoder -> audio bin
    sniffing,   // source -> playlist sink
    redirected, // second pipeline, playing the playlist's entry
};

enum class ErrorDomain { core, library, resource, stream, other };

struct BusErrorFacts {
    std::string_view source_name; // name of the object that posted the error
    std::string_view parent_name; // name of its parent; empty when it has none
    bool from_current_pipeline;   // the poster is the current pipeline or inside it
    ErrorDomain domain;
    int code; // GstCoreError, GstStreamError, ... within the domain
    std::string_view message;
    int redirect_count;
    int is_http;
    std::string_view unknown_type; // caps name the decoder had no element for; empty if none
    PlaylistPhase phase;
};

enum class ErrorRoute {
    report,        // end the run with this error
    ignore,        // from an element released when the pipeline was rewired
    read_uri_list, // the decoder gave up on a URI list: read it
    // text, XML or a type GStreamer could not find on an http: source:
    // perhaps a playlist; count a new one and read it, but if what is read
    // is no playlist at all, this error is the run's end after all
    read_playlist,
};

ErrorRoute route_bus_error(const BusErrorFacts &facts);
