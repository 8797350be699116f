// Why an MMS stream could not be opened or read, in words a person can act
// on. libmms only says "NULL"; the socket layer below it (mms_io.cpp) keeps a
// record of each TCP attempt, and these pure functions pick the attempt that
// tells most and turn it into the error message.
#pragma once

#include <cstddef>
#include <string_view>

// How far one TCP attempt got before it stopped.
enum class MmsStage {
    None = 0,     // no attempt: libmms refused the location before connecting
    Resolve = 1,  // the host name did not resolve
    Connect = 2,  // resolved, but no address accepted the connection
    Exchange = 3, // connected; the conversation itself went wrong (or never did)
};

// Which GStreamer resource error the failure maps to.
enum class MmsErrorKind { NotFound, OpenRead, Read, NotAuthorized };

struct MmsAttempt {
    MmsStage stage = MmsStage::None;
    bool failed = false; // an I/O error or an HTTP refusal was seen, not only silence
    int error = 0;       // errno (Connect, Exchange) or getaddrinfo's code (Resolve)
    bool sent_http = false;
    char host[128] = {};
    int port = 0;
    char reply[96] = {}; // the first line the peer sent, NUL-terminated, bounded
    std::size_t reply_len = 0;
    bool reply_complete = false;
};

// Starts the record of a new attempt on host:port (a longer host is cut).
void mms_attempt_begin(MmsAttempt *attempt, const char *host, int port);

// Notes bytes the peer sent, keeping what fits of its first line.
void mms_attempt_note_reply(MmsAttempt *attempt, const char *data, std::size_t len);

// Notes bytes we sent: a request that starts like HTTP makes the reply an
// HTTP status line worth reporting.
void mms_attempt_note_request(MmsAttempt *attempt, const char *data, std::size_t len);

// The status code of an HTTP status line ("HTTP/1.0 404 Not Found" -> 404),
// or 0 when the line is not one.
int mms_http_status(std::string_view line);

// Keeps in *kept whichever of the two attempts explains the failure better:
// the one that got further, and among equals one that saw a failure, and
// among those the earlier (mms: locations try HTTP first, then MMS over TCP
// on the same port, and the HTTP answer is the one that tells).
void mms_keep_telling(MmsAttempt *kept, const MmsAttempt &latest);

// Writes the message for a connection that could not be opened; returns the
// error kind. The text is always NUL-terminated (cut if out is too small).
MmsErrorKind mms_describe_open_failure(const MmsAttempt &attempt, std::string_view location,
                                       char *out, std::size_t out_len);

// Writes the message for a seek the server would not serve.
void mms_describe_seek_failure(const MmsAttempt &attempt, unsigned long long offset, char *out,
                               std::size_t out_len);

// Writes the message for a read that failed with errno `error` on an open
// stream.
void mms_describe_read_failure(const MmsAttempt &attempt, int error, char *out,
                               std::size_t out_len);
