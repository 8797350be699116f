#include "station_list.h"

#include <cstdio>
#include <cstring>

std::optional<std::size_t> find_third_comma(std::string_view text) {
    std::size_t at = std::string_view::npos;
    for (int n = 0; n < 3; ++n) {
        at = text.find(',', at == std::string_view::npos ? 0 : at + 1);
        if (at == std::string_view::npos)
            return std::nullopt;
    }
    return at;
}

bool radio_table_selects_user_list(const char *value) {
    if (value == nullptr)
        return false;
    const char *p = value;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    if (*p == '+' || *p == '-')
        ++p;
    // Any non-zero digit in the leading number makes it non-zero, however
    // long the number is.
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (*p != '0')
            return true;
    }
    return false;
}

bool station_key_names_station(std::string_view key) {
    if (!key.empty() && key.back() == '\n')
        key.remove_suffix(1);
    if (!key.empty() && key.back() == '\r')
        key.remove_suffix(1);
    return !key.empty();
}

namespace {

// Copies the text before the third comma into `out` (the head a rebuild
// keeps, byte for byte) and returns its length, or nothing when there are
// fewer than three commas or no room for it and a terminator.
std::optional<std::size_t> copy_head(std::string_view text, char *out, std::size_t out_size) {
    const std::optional<std::size_t> comma = find_third_comma(text);
    if (!comma || *comma >= out_size)
        return std::nullopt;
    std::memcpy(out, text.data(), *comma);
    out[*comma] = '\0';
    return *comma;
}

// Head plus the formatted tail as the rebuilt text, unless the tail was cut
// short or the whole is longer than the caller may write.
std::optional<std::string_view> finish(std::size_t head, int tail, char *out, std::size_t out_size,
                                       std::size_t max) {
    if (tail < 0 || head + static_cast<std::size_t>(tail) >= out_size)
        return std::nullopt;
    const std::size_t length = head + static_cast<std::size_t>(tail);
    if (length > max)
        return std::nullopt;
    return std::string_view(out, length);
}

int length_of(std::string_view text) {
    return static_cast<int>(text.size());
}

} // namespace

std::optional<std::string_view> rebuild_list_line(std::string_view text, int kbps,
                                                  std::string_view key, char *out,
                                                  std::size_t out_size) {
    const std::optional<std::size_t> head = copy_head(text, out, out_size);
    if (!head)
        return std::nullopt;
    const int tail = std::snprintf(out + *head, out_size - *head, ",\"%3dkbps\",%.*s]", kbps,
                                   length_of(key), key.data());
    return finish(*head, tail, out, out_size, kListLineMax);
}

std::optional<std::string_view> rebuild_user_entry(std::string_view value, int kbps,
                                                   std::string_view key, char *out,
                                                   std::size_t out_size) {
    const std::optional<std::size_t> head = copy_head(value, out, out_size);
    if (!head)
        return std::nullopt;
    const int tail = std::snprintf(out + *head, out_size - *head, ",\"%dkbps\",%.*s]", kbps,
                                   length_of(key), key.data());
    return finish(*head, tail, out, out_size, kUserEntryMax);
}

bool url_line_marks_station(std::string_view line, std::string_view key) {
    return !key.empty() && line.substr(0, key.size()) == key;
}

ListLinePlan plan_list_line(std::string_view piece, std::string_view key, int bitrate, char *out,
                            std::size_t out_size) {
    ListLinePlan plan;
    if (key.empty() || bitrate == 0 || piece.find(key) == std::string_view::npos)
        return plan;
    // The head never reaches past the line end: a piece ends at its first one.
    const std::optional<std::string_view> text =
        rebuild_list_line(piece, bitrate_to_kbps(bitrate), key, out, out_size);
    if (!text)
        return plan;
    std::string_view old_line = piece;
    if (!old_line.empty() && old_line.back() == '\n')
        old_line.remove_suffix(1);
    plan.change =
        text->size() == old_line.size() ? ListLineChange::in_place : ListLineChange::resize;
    plan.text = *text;
    return plan;
}
