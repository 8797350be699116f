#include "reconnect/live_answer.h"

#include <gtest/gtest.h>

namespace {

TEST(LiveAnswer, OnlyASuccessfulAnswerOfNoLengthThatIsNoPlaylistIsLive) {
    struct Case {
        HttpAnswerFacts answer;
        bool live;
    };
    const Case cases[] = {
        {{200, false, false, "audio/mpeg"}, true},
        {{200, false, true, "audio/mpeg"}, true}, // chunked: live, its final chunk ends it
        {{200, true, false, "audio/mpeg"}, false},
        {{0, false, false, "audio/mpeg"}, false}, // no answer at all
        {{404, false, false, "text/html"}, false},
        {{200, false, false, "application/vnd.apple.mpegurl"}, false},
        {{200, false, false, " Application/X-MPEGURL ; charset=utf-8"}, false},
        {{200, false, false, "audio/mpegurlx"}, true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(is_live_answer(c.answer), c.live)
            << c.answer.status << " " << c.answer.content_type;
}

TEST(LiveAnswer, HttpErrorsEndTheRunAndAGoneMountAfterACleanCloseIsTheEnd) {
    struct Case {
        unsigned status;
        bool after_clean_close;
        ReconnectAnswer expected;
    };
    const Case cases[] = {
        {0, false, ReconnectAnswer::try_again},
        {200, false, ReconnectAnswer::try_again},
        {302, true, ReconnectAnswer::try_again},
        {404, false, ReconnectAnswer::end_with_error},
        {404, true, ReconnectAnswer::end_as_finished},
        {410, true, ReconnectAnswer::end_as_finished},
        {403, true, ReconnectAnswer::end_with_error},
        {599, false, ReconnectAnswer::end_with_error},
        {600, false, ReconnectAnswer::try_again},
    };
    for (const Case &c : cases)
        EXPECT_EQ(judge_failed_reconnection(c.status, c.after_clean_close), c.expected)
            << c.status << " " << c.after_clean_close;
}

} // namespace
