// Playlist text as the HTTP source delivers it: in buffers of any size,
// gathered by the playlist sink's bounded text, then parsed once at its end.
#include "fuzz_input.h"
#include "playlist/playlist.h"
#include "playlist/playlist_sink.h"

#include <cstring>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzInput in(data, size);
    const bool uri_list = in.byte() & 1;
    unsigned split_seed = in.word() | 1;
    const std::string_view body = in.rest();

    static PlaylistText text; // 64 KiB: too large for the stack of every run
    text.clear();
    std::size_t fed = 0;
    bool room = true;
    while (fed < body.size() && room) {
        // Buffer sizes from 1 byte up, as a server's packets may split them.
        split_seed = split_seed * 1103515245u + 12345u;
        std::size_t piece = 1 + (split_seed >> 16) % 512;
        if (piece > body.size() - fed)
            piece = body.size() - fed;
        // A buffer of exactly its own size, so a read past it is caught.
        std::unique_ptr<char[]> buffer(new char[piece]);
        std::memcpy(buffer.get(), body.data() + fed, piece);
        room = text.append(buffer.get(), piece);
        fed += piece;
    }
    const std::string_view gathered = text.view();
    FUZZ_CHECK(gathered.size() <= kPlaylistTextCapacity);
    FUZZ_CHECK(gathered == body.substr(0, gathered.size()));
    FUZZ_CHECK(gathered.size() == body.size() || gathered.size() == kPlaylistTextCapacity);

    const auto found = find_playlist_location(gathered, uri_list);
    if (found) {
        // A bounded, non-empty piece of the text before its first NUL.
        const std::size_t text_end = std::min(gathered.find('\0'), gathered.size());
        FUZZ_CHECK(found->length > 0);
        FUZZ_CHECK(found->offset <= text_end && found->length <= text_end - found->offset);
    }
    // The same text in one piece gives the same answer.
    const auto whole = find_playlist_location(body.substr(0, gathered.size()), uri_list);
    FUZZ_CHECK(found.has_value() == whole.has_value());
    if (found)
        FUZZ_CHECK(found->offset == whole->offset && found->length == whole->length);

    // A byte-order mark in front changes nothing but where the entry stands.
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    if (gathered.substr(0, bom.size()) != bom) {
        const std::string marked = std::string(bom) + std::string(gathered);
        const auto with_bom = find_playlist_location(marked, uri_list);
        FUZZ_CHECK(with_bom.has_value() == found.has_value());
        if (with_bom)
            FUZZ_CHECK(with_bom->offset == found->offset + bom.size() &&
                       with_bom->length == found->length);
    }
    return 0;
}
