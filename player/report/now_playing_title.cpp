#include "report/now_playing_title.h"

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

class BoundedWriter {
  public:
    explicit BoundedWriter(TitleText *out) : out_(out) { out_->length = 0; }

    // Copies `text`, each control character as one space. Returns false once
    // the text no longer fits.
    bool append(std::string_view text) {
        for (size_t i = 0; i < text.size(); ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            if (byte < 0x20 || byte == 0x7F) {
                if (!put(' '))
                    return false;
                continue;
            }
            // U+0080..U+009F (C1, NEL among them) is a line end to some readers.
            if (byte == 0xC2 && i + 1 < text.size()) {
                const auto next = static_cast<unsigned char>(text[i + 1]);
                if (next >= 0x80 && next <= 0x9F) {
                    if (!put(' '))
                        return false;
                    ++i;
                    continue;
                }
            }
            if (!put(text[i]))
                return false;
        }
        return true;
    }

    // After a cut: drop the last character if only part of it fitted.
    void trim_partial_character() {
        size_t length = out_->length;
        if (length == 0)
            return;
        size_t start = length - 1;
        for (int steps = 0; steps < 3 && start > 0 &&
                            is_continuation(static_cast<unsigned char>(out_->bytes[start]));
             ++steps)
            --start;
        const auto lead = static_cast<unsigned char>(out_->bytes[start]);
        if (!is_continuation(lead) && start + sequence_length(lead) > length)
            out_->length = start;
    }

  private:
    bool put(char c) {
        if (out_->length == kTitleMaxBytes)
            return false;
        out_->bytes[out_->length++] = c;
        return true;
    }

    TitleText *out_;
};

} // namespace

void build_title_text(std::string_view artist, std::string_view title, TitleText *out) {
    BoundedWriter writer(out);
    if (title.empty())
        return;
    bool fits = true;
    if (!artist.empty())
        fits = writer.append(artist) && writer.append(" - ");
    if (fits)
        fits = writer.append(title);
    if (!fits)
        writer.trim_partial_character();
}
