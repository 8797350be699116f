#include "reconnect/live_answer.h"

#include <cstddef>

namespace {

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

std::string_view media_type_of(std::string_view content_type) {
    const std::size_t end = content_type.find(';');
    std::string_view type = content_type.substr(0, end);
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t'))
        type.remove_suffix(1);
    while (!type.empty() && (type.front() == ' ' || type.front() == '\t'))
        type.remove_prefix(1);
    return type;
}

bool is_hls_playlist_type(std::string_view content_type) {
    const std::string_view type = media_type_of(content_type);
    for (std::string_view hls : {"application/vnd.apple.mpegurl", "application/x-mpegurl",
                                 "audio/mpegurl", "audio/x-mpegurl"}) {
        if (equals_ignoring_case(type, hls))
            return true;
    }
    return false;
}

} // namespace

bool is_live_answer(const HttpAnswerFacts &answer) {
    return answer.status >= 200 && answer.status < 300 && !answer.has_content_length &&
           !is_hls_playlist_type(answer.content_type);
}

ReconnectAnswer judge_failed_reconnection(unsigned status, bool after_clean_close) {
    if (status < 400 || status > 599)
        return ReconnectAnswer::try_again;
    if (after_clean_close && (status == 404 || status == 410))
        return ReconnectAnswer::end_as_finished;
    return ReconnectAnswer::end_with_error;
}
