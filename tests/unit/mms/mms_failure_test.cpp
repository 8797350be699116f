#include "mms/mms_failure.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <netdb.h>
#include <string>

namespace {

MmsAttempt attempt(MmsStage stage, const char *host = "10.0.0.5", int port = 8080) {
    MmsAttempt a;
    mms_attempt_begin(&a, host, port);
    a.stage = stage;
    return a;
}

void reply(MmsAttempt *a, const std::string &text) {
    mms_attempt_note_reply(a, text.data(), text.size());
}

std::string describe(const MmsAttempt &a, MmsErrorKind *kind = nullptr,
                     const char *location = "mmsh://10.0.0.5:8080/live") {
    char out[256];
    MmsErrorKind k = mms_describe_open_failure(a, location, out, sizeof out);
    if (kind)
        *kind = k;
    return out;
}

TEST(MmsHttpStatus, ReadsOnlyRealStatusLines) {
    EXPECT_EQ(mms_http_status("HTTP/1.0 404 Not Found"), 404);
    EXPECT_EQ(mms_http_status("HTTP/1.1 200 OK"), 200);
    EXPECT_EQ(mms_http_status("HTTP/1.0 503"), 503);
    EXPECT_EQ(mms_http_status("HTTP/1.0 40"), 0);
    EXPECT_EQ(mms_http_status("HTTP/1.0 4044 x"), 0);
    EXPECT_EQ(mms_http_status("HTTP/1.0 4x4 x"), 0);
    EXPECT_EQ(mms_http_status("ICY 200 OK"), 0);
    EXPECT_EQ(mms_http_status("HTTP/"), 0);
    EXPECT_EQ(mms_http_status(""), 0);
}

TEST(MmsAttemptRecord, KeepsTheFirstLineOnlyAndStaysBounded) {
    MmsAttempt a = attempt(MmsStage::Exchange);
    reply(&a, "HTTP/1.0 40");
    reply(&a, "4 Not Found\r\nServer: x\r\n");
    EXPECT_STREQ(a.reply, "HTTP/1.0 404 Not Found");
    EXPECT_FALSE(a.failed) << "an HTTP answer only counts when we asked in HTTP";

    MmsAttempt flood = attempt(MmsStage::Exchange);
    reply(&flood, std::string(1000, 'A'));
    reply(&flood, "more");
    EXPECT_EQ(flood.reply_len, sizeof flood.reply - 1);
    EXPECT_EQ(std::strlen(flood.reply), sizeof flood.reply - 1);

    MmsAttempt binary = attempt(MmsStage::Exchange);
    reply(&binary, std::string("\x01\x00\x00\x00", 4));
    EXPECT_STREQ(binary.reply, "\x01");

    MmsAttempt longhost;
    mms_attempt_begin(&longhost, std::string(500, 'h').c_str(), 80);
    EXPECT_EQ(std::strlen(longhost.host), sizeof longhost.host - 1);
}

TEST(MmsAttemptRecord, HttpRefusalCountsAsFailureAfterAnHttpRequest) {
    MmsAttempt a = attempt(MmsStage::Exchange);
    const char request[] = "GET /live HTTP/1.0\r\n";
    mms_attempt_note_request(&a, request, sizeof request - 1);
    reply(&a, "HTTP/1.0 200 OK\r\n");
    EXPECT_FALSE(a.failed);

    MmsAttempt refused = attempt(MmsStage::Exchange);
    mms_attempt_note_request(&refused, request, sizeof request - 1);
    reply(&refused, "HTTP/1.0 403 Forbidden\r\n");
    EXPECT_TRUE(refused.failed);
}

TEST(MmsKeepTelling, PrefersFurtherThenFailedThenEarlier) {
    MmsAttempt kept;
    MmsAttempt refused = attempt(MmsStage::Connect);
    refused.failed = true;
    mms_keep_telling(&kept, refused);
    EXPECT_EQ(kept.stage, MmsStage::Connect);

    // "mms:" asks in HTTP first (404 here), then in MMS over TCP on the same
    // port, which a web server answers with garbage: the 404 must survive.
    MmsAttempt http = attempt(MmsStage::Exchange);
    const char request[] = "GET /x HTTP/1.0\r\n";
    mms_attempt_note_request(&http, request, sizeof request - 1);
    reply(&http, "HTTP/1.0 404 Not Found\r\n");
    mms_keep_telling(&kept, http);
    MmsAttempt tcp = attempt(MmsStage::Exchange);
    tcp.failed = true;
    tcp.error = ECONNRESET;
    mms_keep_telling(&kept, tcp);
    EXPECT_STREQ(kept.reply, "HTTP/1.0 404 Not Found");

    // A connection that got an answer beats a later one that was refused.
    MmsAttempt quiet = attempt(MmsStage::Exchange);
    MmsAttempt kept2 = quiet;
    mms_keep_telling(&kept2, refused);
    EXPECT_EQ(kept2.stage, MmsStage::Exchange);
}

TEST(MmsDescribe, EachStageHasItsOwnMessage) {
    MmsErrorKind kind;

    EXPECT_EQ(describe(attempt(MmsStage::None), &kind, "mmsh:/nohost"),
              "Not a valid MMS location: mmsh:/nohost");
    EXPECT_EQ(kind, MmsErrorKind::NotFound);
    EXPECT_EQ(describe(attempt(MmsStage::Resolve, ""), &kind, "mmsh:///x"),
              "Not a valid MMS location: mmsh:///x");

    MmsAttempt unknown = attempt(MmsStage::Resolve, "radio.example");
    unknown.error = EAI_NONAME;
    EXPECT_EQ(describe(unknown, &kind), "Host not found: radio.example");
    EXPECT_EQ(kind, MmsErrorKind::NotFound);
    unknown.error = EAI_AGAIN;
    EXPECT_EQ(describe(unknown),
              std::string("Could not look up host radio.example: ") + gai_strerror(EAI_AGAIN));

    MmsAttempt refused = attempt(MmsStage::Connect);
    refused.error = ECONNREFUSED;
    EXPECT_EQ(describe(refused, &kind),
              std::string("Could not connect to 10.0.0.5:8080: ") + std::strerror(ECONNREFUSED));
    EXPECT_EQ(kind, MmsErrorKind::OpenRead);
    MmsAttempt v6 = attempt(MmsStage::Connect, "::1", 1755);
    v6.error = ETIMEDOUT;
    EXPECT_EQ(describe(v6),
              std::string("Could not connect to [::1]:1755: ") + std::strerror(ETIMEDOUT));

    MmsAttempt http = attempt(MmsStage::Exchange);
    const char request[] = "GET /live HTTP/1.0\r\n";
    mms_attempt_note_request(&http, request, sizeof request - 1);
    reply(&http, "HTTP/1.1 404 Not Found\r\n");
    EXPECT_EQ(describe(http, &kind), "Server 10.0.0.5:8080 refused the stream: 404 Not Found");
    EXPECT_EQ(kind, MmsErrorKind::NotFound);
    MmsAttempt denied = attempt(MmsStage::Exchange);
    mms_attempt_note_request(&denied, request, sizeof request - 1);
    reply(&denied, "HTTP/1.0 401 Unauthorized\r\n");
    describe(denied, &kind);
    EXPECT_EQ(kind, MmsErrorKind::NotAuthorized);

    MmsAttempt reset = attempt(MmsStage::Exchange);
    reset.failed = true;
    reset.error = ECONNRESET;
    EXPECT_EQ(describe(reset, &kind),
              std::string("Could not read from 10.0.0.5:8080: ") + std::strerror(ECONNRESET));
    EXPECT_EQ(kind, MmsErrorKind::Read);

    MmsAttempt web = attempt(MmsStage::Exchange);
    mms_attempt_note_request(&web, request, sizeof request - 1);
    reply(&web, "HTTP/1.0 200 OK\r\n");
    EXPECT_EQ(describe(web, &kind), "Not an MMS server: 10.0.0.5:8080");
    EXPECT_EQ(kind, MmsErrorKind::OpenRead);

    char seek_out[128];
    mms_describe_seek_failure(web, 42144, seek_out, sizeof seek_out);
    EXPECT_STREQ(seek_out, "Server 10.0.0.5:8080 could not resume the stream at byte 42144");
}

TEST(MmsDescribe, StaysInsideSmallBuffers) {
    MmsAttempt refused = attempt(MmsStage::Connect);
    refused.error = ECONNREFUSED;
    char out[16];
    std::memset(out, 'x', sizeof out);
    mms_describe_open_failure(refused, "mms://h/", out, 8);
    EXPECT_STREQ(out, "Could n");
    EXPECT_EQ(out[8], 'x');

    std::string huge(5000, 'l');
    char big[600];
    mms_describe_open_failure(attempt(MmsStage::None), huge, big, sizeof big);
    EXPECT_LT(std::strlen(big), sizeof big);

    char read_out[12];
    mms_describe_read_failure(refused, EPIPE, read_out, sizeof read_out);
    EXPECT_STREQ(read_out, "Could not r");
}

} // namespace
