#include "mms/mms_failure.h"

#include <cstdio>
#include <cstring>
#include <netdb.h>

namespace {

void copy_bounded(char *dst, std::size_t dst_len, std::string_view src) {
    std::size_t n = src.size() < dst_len - 1 ? src.size() : dst_len - 1;
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

// "host:port", with an IPv6 literal in brackets so the port stays readable.
void format_endpoint(const MmsAttempt &a, char *out, std::size_t out_len) {
    bool literal_v6 = std::strchr(a.host, ':') != nullptr;
    int n = std::snprintf(out, out_len, "%s%s%s:%d", literal_v6 ? "[" : "", a.host,
                          literal_v6 ? "]" : "", a.port);
    if (n < 0)
        out[0] = '\0';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

int score(const MmsAttempt &a) {
    return static_cast<int>(a.stage) * 2 + (a.failed ? 1 : 0);
}

// The status line without its "HTTP/x.y " prefix: "404 Not Found".
std::string_view status_text(std::string_view line) {
    std::size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return line;
    line.remove_prefix(space + 1);
    while (!line.empty() && line.front() == ' ')
        line.remove_prefix(1);
    return line;
}

} // namespace

void mms_attempt_begin(MmsAttempt *attempt, const char *host, int port) {
    *attempt = MmsAttempt{};
    copy_bounded(attempt->host, sizeof attempt->host, host ? host : "");
    attempt->port = port;
}

void mms_attempt_note_reply(MmsAttempt *attempt, const char *data, std::size_t len) {
    for (std::size_t i = 0; i < len && !attempt->reply_complete; ++i) {
        char c = data[i];
        if (c == '\n' || c == '\r' || c == '\0') {
            attempt->reply_complete = true;
            break;
        }
        if (attempt->reply_len + 1 >= sizeof attempt->reply) {
            attempt->reply_complete = true;
            break;
        }
        attempt->reply[attempt->reply_len++] = c;
        attempt->reply[attempt->reply_len] = '\0';
    }
    if (attempt->sent_http && attempt->reply_complete) {
        int status = mms_http_status({attempt->reply, attempt->reply_len});
        if (status >= 300)
            attempt->failed = true;
    }
}

void mms_attempt_note_request(MmsAttempt *attempt, const char *data, std::size_t len) {
    std::string_view sent(data, len);
    if (sent.substr(0, 4) == "GET " || sent.substr(0, 5) == "POST ")
        attempt->sent_http = true;
}

int mms_http_status(std::string_view line) {
    if (line.substr(0, 5) != "HTTP/")
        return 0;
    std::size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() < space + 4)
        return 0;
    std::string_view code = line.substr(space + 1, 3);
    if (!is_digit(code[0]) || !is_digit(code[1]) || !is_digit(code[2]))
        return 0;
    if (line.size() > space + 4 && line[space + 4] != ' ')
        return 0;
    return (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
}

void mms_keep_telling(MmsAttempt *kept, const MmsAttempt &latest) {
    if (score(latest) > score(*kept))
        *kept = latest;
}

MmsErrorKind mms_describe_open_failure(const MmsAttempt &a, std::string_view location, char *out,
                                       std::size_t out_len) {
    char endpoint[160];
    format_endpoint(a, endpoint, sizeof endpoint);
    int n = 0;
    MmsErrorKind kind = MmsErrorKind::OpenRead;
    // libmms asks to connect even when the location names no host.
    MmsStage stage = a.stage == MmsStage::Resolve && a.host[0] == '\0' ? MmsStage::None : a.stage;
    switch (stage) {
    case MmsStage::None:
        n = std::snprintf(out, out_len, "Not a valid MMS location: %.*s",
                          static_cast<int>(location.size() > 512 ? 512 : location.size()),
                          location.data());
        kind = MmsErrorKind::NotFound;
        break;
    case MmsStage::Resolve:
        if (a.error == EAI_NONAME || a.error == EAI_NODATA)
            n = std::snprintf(out, out_len, "Host not found: %s", a.host);
        else
            n = std::snprintf(out, out_len, "Could not look up host %s: %s", a.host,
                              gai_strerror(a.error));
        kind = MmsErrorKind::NotFound;
        break;
    case MmsStage::Connect:
        n = std::snprintf(out, out_len, "Could not connect to %s: %s", endpoint,
                          std::strerror(a.error));
        break;
    case MmsStage::Exchange: {
        std::string_view reply(a.reply, a.reply_len);
        int status = a.sent_http ? mms_http_status(reply) : 0;
        if (status >= 300) {
            std::string_view text = status_text(reply);
            n = std::snprintf(out, out_len, "Server %s refused the stream: %.*s", endpoint,
                              static_cast<int>(text.size()), text.data());
            if (status == 401 || status == 403)
                kind = MmsErrorKind::NotAuthorized;
            else if (status == 404 || status == 410)
                kind = MmsErrorKind::NotFound;
        } else if (a.error != 0) {
            n = std::snprintf(out, out_len, "Could not read from %s: %s", endpoint,
                              std::strerror(a.error));
            kind = MmsErrorKind::Read;
        } else {
            n = std::snprintf(out, out_len, "Not an MMS server: %s", endpoint);
        }
        break;
    }
    }
    if (n < 0 && out_len > 0)
        out[0] = '\0';
    return kind;
}

void mms_describe_seek_failure(const MmsAttempt &a, unsigned long long offset, char *out,
                               std::size_t out_len) {
    char endpoint[160];
    format_endpoint(a, endpoint, sizeof endpoint);
    if (std::snprintf(out, out_len, "Server %s could not resume the stream at byte %llu", endpoint,
                      offset) < 0 &&
        out_len > 0)
        out[0] = '\0';
}

void mms_describe_read_failure(const MmsAttempt &a, int error, char *out, std::size_t out_len) {
    char endpoint[160];
    format_endpoint(a, endpoint, sizeof endpoint);
    if (std::snprintf(out, out_len, "Could not read from %s: %s", endpoint, std::strerror(error)) <
            0 &&
        out_len > 0)
        out[0] = '\0';
}
