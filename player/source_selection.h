// Which source element plays a location, decided by its scheme alone.
#pragma once

#include <string_view>

enum class SourceKind { Http, Mms, Smb, File };

struct SourceChoice {
    SourceKind kind;
    const char *factory; // element factory name
    int is_http;         // only HTTP content may turn out to be a playlist
};

// Prefixes are compared case-insensitively: "http:" and "https:" give the
// HTTP source, "mms:"/"mmsh:" the MMS source, "smb:" a file below the
// mounted share, anything else a local file.
SourceChoice select_source(std::string_view location);

// Source for a location found in a playlist: MMS or HTTP, never a file.
SourceChoice select_redirect_source(std::string_view location);
