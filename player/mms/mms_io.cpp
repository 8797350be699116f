#include "mms/mms_io.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <glib.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// One name lookup, shared by the caller and the lookup thread; whichever
// lets go last frees it, so an interrupted caller can walk away while
// getaddrinfo() is still waiting for the name server.
struct Lookup {
    std::atomic<int> refs;
    int done_fd; // eventfd the thread signals when the result is in
    char host[256];
    char service[8];
    struct addrinfo *result;
    int rc;
};

void lookup_release(Lookup *lookup) {
    if (lookup->refs.fetch_sub(1) != 1)
        return;
    if (lookup->result)
        freeaddrinfo(lookup->result);
    (void)close(lookup->done_fd);
    g_free(lookup);
}

gpointer lookup_thread(gpointer data) {
    auto *lookup = static_cast<Lookup *>(data);
    struct addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    lookup->rc = getaddrinfo(lookup->host, lookup->service, &hints, &lookup->result);
    uint64_t one = 1;
    (void)!write(lookup->done_fd, &one, sizeof one);
    lookup_release(lookup);
    return nullptr;
}

} // namespace

MmsIo::MmsIo() {
    table_.select = &MmsIo::select_cb;
    table_.select_data = this;
    table_.read = &MmsIo::read_cb;
    table_.read_data = this;
    table_.write = &MmsIo::write_cb;
    table_.write_data = this;
    table_.connect = &MmsIo::connect_cb;
    table_.connect_data = this;
}

MmsIo::~MmsIo() {
    if (wake_fd_ >= 0)
        (void)close(wake_fd_);
}

bool MmsIo::open() {
    if (wake_fd_ >= 0)
        return true;
    wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return wake_fd_ >= 0;
}

void MmsIo::interrupt() {
    interrupted_.store(1);
    uint64_t one = 1;
    (void)!write(wake_fd_, &one, sizeof one);
}

void MmsIo::resume() {
    uint64_t count;
    while (read(wake_fd_, &count, sizeof count) > 0) {
    }
    interrupted_.store(0);
}

void MmsIo::begin_connect() {
    have_attempt_ = false;
    current_ = MmsAttempt{};
    kept_ = MmsAttempt{};
    error_ = 0;
}

MmsAttempt MmsIo::connect_failure() const {
    MmsAttempt telling = kept_;
    if (have_attempt_)
        mms_keep_telling(&telling, current_);
    return telling;
}

int MmsIo::wait_for(int fd, short events, int timeout_ms) {
    struct pollfd fds[2] = {{fd, events, 0}, {wake_fd_, POLLIN, 0}};
    for (;;) {
        if (interrupted())
            return 0;
        int n = poll(fds, 2, timeout_ms);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            return -1;
        if (interrupted())
            return 0;
        if (fds[1].revents != 0) {
            // A wake-up that a resume() racing with interrupt() left behind
            // with the flag already clear: not meant for us.
            uint64_t count;
            (void)!read(wake_fd_, &count, sizeof count);
            continue;
        }
        // Errors and hang-ups count as ready: the next call reports them.
        return 1;
    }
}

int MmsIo::resolve(const char *host, int port, struct addrinfo **result) {
    char service[8];
    std::snprintf(service, sizeof service, "%d", port & 0xffff);

    // A numeric address needs no name server: answer it here and now.
    struct addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    int rc = getaddrinfo(host, service, &hints, result);
    if (rc != EAI_NONAME)
        return rc;

    auto *lookup = static_cast<Lookup *>(g_malloc0(sizeof(Lookup)));
    if (std::strlen(host) >= sizeof lookup->host) {
        g_free(lookup);
        return EAI_NONAME;
    }
    std::memcpy(lookup->host, host, std::strlen(host) + 1);
    std::memcpy(lookup->service, service, sizeof service);
    lookup->done_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (lookup->done_fd < 0) {
        g_free(lookup);
        return EAI_SYSTEM;
    }
    lookup->refs.store(2);
    GThread *thread = g_thread_try_new("mms-lookup", lookup_thread, lookup, nullptr);
    if (!thread) {
        lookup->refs.store(1);
        lookup_release(lookup);
        errno = EAGAIN;
        return EAI_SYSTEM;
    }
    g_thread_unref(thread);

    if (wait_for(lookup->done_fd, POLLIN) != 1) {
        lookup_release(lookup);
        errno = EINTR;
        return EAI_SYSTEM;
    }
    rc = lookup->rc;
    *result = lookup->result;
    lookup->result = nullptr;
    lookup_release(lookup);
    return rc;
}

int MmsIo::connect_to(const char *host, int port) {
    if (have_attempt_)
        mms_keep_telling(&kept_, current_);
    have_attempt_ = true;
    mms_attempt_begin(&current_, host, port);
    current_.stage = MmsStage::Resolve;

    struct addrinfo *addresses = nullptr;
    int rc = resolve(host ? host : "", port, &addresses);
    if (rc != 0) {
        if (interrupted())
            return -1;
        current_.failed = true;
        current_.error = rc;
        return -1;
    }

    current_.stage = MmsStage::Connect;
    int last_error = ECONNREFUSED;
    int fd = -1;
    for (struct addrinfo *a = addresses; a && fd < 0; a = a->ai_next) {
        int s = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0) {
            last_error = errno;
            continue;
        }
        int r = connect(s, a->ai_addr, a->ai_addrlen);
        if (r < 0 && errno == EINPROGRESS) {
            int ready = wait_for(s, POLLOUT);
            if (ready == 1) {
                // Asking connect() again reports the outcome through errno.
                // (SO_ERROR would too, but its value escapes the errno
                // translation of an emulator running us on another CPU's
                // numbering, where ECONNREFUSED is not 111.)
                r = connect(s, a->ai_addr, a->ai_addrlen);
                if (r < 0 && errno == EISCONN)
                    r = 0;
            } else {
                r = -1;
                errno = ready == 0 ? EINTR : errno;
            }
        }
        if (r == 0) {
            fd = s;
        } else {
            last_error = errno;
            (void)close(s);
            if (interrupted())
                break;
        }
    }
    freeaddrinfo(addresses);

    if (fd < 0) {
        if (!interrupted()) {
            current_.failed = true;
            current_.error = last_error;
        }
        return -1;
    }
    current_.stage = MmsStage::Exchange;
    return fd;
}

void MmsIo::note_failure(int err) {
    error_ = err;
    current_.failed = true;
    current_.error = err;
}

mms_off_t MmsIo::read_from(int fd, char *buf, mms_off_t len) {
    mms_off_t got = 0;
    while (got < len) {
        int ready = wait_for(fd, POLLIN);
        if (ready != 1) {
            if (ready < 0) {
                note_failure(errno);
            }
            break;
        }
        ssize_t n = recv(fd, buf + got, static_cast<size_t>(len - got), 0);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            note_failure(errno);
            break;
        }
        if (n == 0)
            break; // the server closed: libmms takes a short read as the end
        mms_attempt_note_reply(&current_, buf + got, static_cast<size_t>(n));
        got += n;
    }
    // libmms treats 0 at a chunk boundary as a clean end, so an interrupted
    // or failed read must never look like one.
    if (got == 0 && (interrupted() || error_ != 0))
        return -1;
    return got;
}

mms_off_t MmsIo::write_to(int fd, const char *buf, mms_off_t len) {
    mms_attempt_note_request(&current_, buf, static_cast<size_t>(len));
    mms_off_t sent = 0;
    while (sent < len) {
        int ready = wait_for(fd, POLLOUT);
        if (ready != 1) {
            if (ready < 0) {
                note_failure(errno);
            }
            break;
        }
        ssize_t n = send(fd, buf + sent, static_cast<size_t>(len - sent), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            note_failure(errno);
            break;
        }
        sent += n;
    }
    return sent;
}

int MmsIo::connect_cb(void *data, const char *host, int port) {
    return static_cast<MmsIo *>(data)->connect_to(host, port);
}

mms_off_t MmsIo::read_cb(void *data, int fd, char *buf, mms_off_t len) {
    return static_cast<MmsIo *>(data)->read_from(fd, buf, len);
}

mms_off_t MmsIo::write_cb(void *data, int fd, char *buf, mms_off_t len) {
    return static_cast<MmsIo *>(data)->write_to(fd, buf, len);
}

int MmsIo::select_cb(void *data, int fd, int state, int timeout_ms) {
    auto *io = static_cast<MmsIo *>(data);
    short events = state == MMS_IO_WRITE_READY ? POLLOUT : POLLIN;
    int ready = io->wait_for(fd, events, timeout_ms);
    if (ready == 1)
        return MMS_IO_STATUS_READY;
    if (ready == 0)
        return MMS_IO_STATUS_ABORTED;
    return timeout_ms >= 0 ? MMS_IO_STATUS_TIMEOUT : MMS_IO_STATUS_ERROR;
}
