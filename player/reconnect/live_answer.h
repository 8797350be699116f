// What an HTTP answer says about the stream behind it, and what an answer
// to a reconnection means for the run. Pure decisions over the facts the
// HTTP source reports.
#pragma once

#include <string_view>

struct HttpAnswerFacts {
    unsigned status = 0;             // 0: no HTTP answer at all
    bool has_content_length = false; // a file, or a stream that says how long it is
    bool chunked = false;            // the body ends with a final chunk, not a close
    std::string_view content_type;   // as sent, parameters included
};

// A live stream: a successful answer of no stated length that is not an
// HLS playlist (whose ends the HLS demuxer manages itself).
bool is_live_answer(const HttpAnswerFacts &answer);

enum class ReconnectAnswer {
    try_again,       // no answer, or none that rules the station out
    end_with_error,  // the station refused the listener with an HTTP error
    end_as_finished, // the mount went away after the station closed cleanly
};

// `status` is the HTTP status of a reconnection that failed (0 without
// one); `after_clean_close` whether the drop was a clean close by the
// station. A 404 or 410 after a clean close is a broadcast that ended.
ReconnectAnswer judge_failed_reconnection(unsigned status, bool after_clean_close);
