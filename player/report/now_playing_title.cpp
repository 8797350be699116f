#include "report/now_playing_title.h"

#include <cstring>

namespace {

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Bytes a sequence starting with `lead` claims; a stray byte counts as one.
size_t sequence_length(unsigned char lead) {
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    return 1;
}

// Bytes of the character at the start of `text` that some reader takes
// for a line end or a control, so that it is shown as one space; 0 for any
// other. U+0080..U+009F (C1, NEL among them), U+2028 and U+2029 (line and
// paragraph separators) are line ends to some readers.
size_t breaking_length(std::string_view text) {
    const auto byte = static_cast<unsigned char>(text[0]);
    if (byte < 0x20 || byte == 0x7F)
        return 1;
    const auto at = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    if (byte == 0xC2 && text.size() >= 2 && at(1) >= 0x80 && at(1) <= 0x9F)
        return 2;
    if (byte == 0xE2 && text.size() >= 3 && at(1) == 0x80 && (at(2) == 0xA8 || at(2) == 0xA9))
        return 3;
    return 0;
}

class BoundedWriter {
  public:
    BoundedWriter(char *out, size_t limit, size_t *length)
        : out_(out), limit_(limit), length_(length) {
        *length_ = 0;
    }

    // Copies `text`, each control or line-breaking character as one space.
    // Returns false once the text no longer fits.
    bool append(std::string_view text) {
        for (size_t i = 0; i < text.size();) {
            const size_t breaking = breaking_length(text.substr(i));
            if (!put(breaking != 0 ? ' ' : text[i]))
                return false;
            i += breaking != 0 ? breaking : 1;
        }
        return true;
    }

    // After a cut: drop the last character if only part of it fitted.
    void trim_partial_character() {
        size_t length = *length_;
        if (length == 0)
            return;
        size_t start = length - 1;
        for (int steps = 0;
             steps < 3 && start > 0 && is_continuation(static_cast<unsigned char>(out_[start]));
             ++steps)
            --start;
        const auto lead = static_cast<unsigned char>(out_[start]);
        if (!is_continuation(lead) && start + sequence_length(lead) > length)
            *length_ = start;
    }

  private:
    bool put(char c) {
        if (*length_ == limit_)
            return false;
        out_[(*length_)++] = c;
        return true;
    }

    char *out_;
    size_t limit_;
    size_t *length_;
};

// `text` as shown, at most `limit` bytes of it, cut at a character boundary.
size_t write_shown(std::string_view text, char *out, size_t limit) {
    size_t length = 0;
    BoundedWriter writer(out, limit, &length);
    if (!writer.append(text))
        writer.trim_partial_character();
    return length;
}

} // namespace

void build_title_text(std::string_view artist, std::string_view title, TitleText *out) {
    out->length = 0;
    if (title.empty())
        return;
    // The title is what a listener looks for: it takes its room first, and
    // the artist gets what is left.
    char shown_title[kTitleMaxBytes];
    const size_t title_length = write_shown(title, shown_title, kTitleMaxBytes);
    constexpr std::string_view kSeparator = " - ";
    const size_t left = kTitleMaxBytes - title_length;
    if (!artist.empty() && left > kSeparator.size()) {
        out->length = write_shown(artist, out->bytes, left - kSeparator.size());
        if (out->length != 0) {
            memcpy(out->bytes + out->length, kSeparator.data(), kSeparator.size());
            out->length += kSeparator.size();
        }
    }
    memcpy(out->bytes + out->length, shown_title, title_length);
    out->length += title_length;
}
