#include "source_selection.h"

#include <cstddef>

namespace {

bool has_prefix_nocase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

bool is_mms(std::string_view location) {
    return has_prefix_nocase(location, "mms:") || has_prefix_nocase(location, "mmsh:");
}

} // namespace

SourceChoice select_source(std::string_view location) {
    // A secure stream is still an HTTP stream; the file source could never
    // open it.
    if (has_prefix_nocase(location, "http:") || has_prefix_nocase(location, "https:"))
        return {SourceKind::Http, "souphttpsrc", 1};
    if (is_mms(location))
        return {SourceKind::Mms, "mmssrc", 0};
    if (has_prefix_nocase(location, "smb:"))
        return {SourceKind::Smb, "filesrc", 0};
    return {SourceKind::File, "filesrc", 0};
}

SourceChoice select_redirect_source(std::string_view location) {
    if (is_mms(location))
        return {SourceKind::Mms, "mmssrc", 0};
    return {SourceKind::Http, "souphttpsrc", 1};
}
