// The now-playing line other programs show: built from a stream's tags,
// bounded, and guaranteed to be a single line.
#pragma once

#include <cstddef>
#include <string_view>

// Longest text the title file holds, in bytes.
inline constexpr size_t kTitleMaxBytes = 1024;

struct TitleText {
    char bytes[kTitleMaxBytes];
    size_t length = 0;
};

// "ARTIST - TITLE" when both are non-empty, else TITLE alone. Control
// characters (C0, DEL, C1) and the line and paragraph separators (U+2028,
// U+2029) each become one space; text beyond kTitleMaxBytes is cut at a
// UTF-8 character boundary, from the artist first: the title is always
// there (cut only when it alone is longer), and the artist with its " - "
// only when some of it fits. Other bytes pass as they are. An empty title
// means none is known: the result is empty.
void build_title_text(std::string_view artist, std::string_view title, TitleText *out);
