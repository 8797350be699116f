// The socket layer under libmms. libmms's own I/O blocks in connect() and
// read() with no way out, so a pipeline could never stop while a server
// stalls; libmms lets us supply the four I/O calls instead. Ours wait in
// poll() on the socket and on a wake-up descriptor, so interrupt() from any
// thread ends a pending connect, read or write at once, and they keep a
// record of every attempt (mms_failure.h) so a failure can be explained.
#pragma once

#include "mms/mms_failure.h"

#include <atomic>
#include <libmms/mmsio.h>

class MmsIo {
  public:
    MmsIo();
    ~MmsIo();
    MmsIo(const MmsIo &) = delete;
    MmsIo &operator=(const MmsIo &) = delete;

    // Creates the wake-up descriptor; false (errno set) if it cannot.
    bool open();
    // The table to hand to libmms's mmsx_* calls; valid while this lives.
    mms_io_t *table() { return &table_; }

    // Makes every pending and later wait return at once, until resume().
    // Safe from any thread.
    void interrupt();
    void resume();
    bool interrupted() const { return interrupted_.load() != 0; }

    // Forgets earlier attempts; call before each mmsx_connect().
    void begin_connect();
    // The attempt that best explains why mmsx_connect() failed.
    MmsAttempt connect_failure() const;
    // The attempt in use (after a successful connect: the stream's own).
    const MmsAttempt &current() const { return current_; }

    // errno of the last failed read or write since clear_error(), or 0.
    int error() const { return error_; }
    void clear_error() { error_ = 0; }

  private:
    static int connect_cb(void *data, const char *host, int port);
    static mms_off_t read_cb(void *data, int fd, char *buf, mms_off_t len);
    static mms_off_t write_cb(void *data, int fd, char *buf, mms_off_t len);
    static int select_cb(void *data, int fd, int state, int timeout_ms);

    int connect_to(const char *host, int port);
    // Records a failed read or write, for the error message and the attempt.
    void note_failure(int err);
    mms_off_t read_from(int fd, char *buf, mms_off_t len);
    mms_off_t write_to(int fd, const char *buf, mms_off_t len);
    // 1 when fd is ready for events, 0 when interrupted, -1 on poll failure
    // or (timeout_ms >= 0) when the time ran out.
    int wait_for(int fd, short events, int timeout_ms = -1);
    // getaddrinfo() away from the caller's thread, so that a slow name
    // server cannot hold up interrupt(). 0, a getaddrinfo code, or
    // EAI_SYSTEM with errno EINTR when interrupted.
    int resolve(const char *host, int port, struct addrinfo **result);

    mms_io_t table_;
    int wake_fd_ = -1;
    std::atomic<int> interrupted_{0};
    int error_ = 0;
    bool have_attempt_ = false;
    MmsAttempt current_;
    MmsAttempt kept_;
};
