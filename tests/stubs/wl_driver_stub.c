/*
 * Scripted stand-in for the radio's wireless driver, preloaded under the
 * real platform library (LD_PRELOAD) so its wl_ioctl and ap_set run
 * unchanged. It answers the driver's private requests (0x8BE0..0x8BFF) and
 * hands every other ioctl to the C library.
 *
 * Environment:
 *   WL_DRIVER_SCENARIO  scenario file (optional; without it every request
 *                       succeeds and the status word is left alone)
 *   WL_DRIVER_LOG       log file, one line per request (optional)
 *
 * Scenario lines ('#' starts a comment):
 *   reply FILE [LENGTH]   next survey table: FILE's bytes are copied into the
 *                         caller's buffer (never more than its length) and the
 *                         record's length is set to LENGTH (default: bytes of
 *                         FILE + 1). Tables are served in order; the last one
 *                         repeats.
 *   status CODE|fail ...  WSC status codes served in order, the last one
 *                         repeating; "fail" fails the query without writing
 *                         the status word.
 *   fail REQ N|all        the N-th request (from 1) with number REQ fails.
 *   lockfile PATH         platform lock 1's file, whose flock state each line
 *                         logs (default "/var/run/spinlock.1.lock")
 *   observe PATH          each status query logs PATH's content and inode
 *   sleep fast            sleep() returns at once (it is logged either way)
 *
 * Log lines are tab-separated key=value fields; "data=" comes last and shows
 * the whole data area of a set request, NUL as \0, other bytes outside
 * printable ASCII as \xNN. "allocs=" counts the heap allocations the process
 * has made so far outside this stand-in (malloc, calloc and realloc are
 * counted on their way to the C library's own).
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/wireless.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#define PRIV_FIRST 0x8BE0UL
#define PRIV_LAST 0x8BFFUL
#define REQ_STATUS (SIOCIWFIRSTPRIV + 1)
#define REQ_SET (SIOCIWFIRSTPRIV + 2)
#define REQ_SURVEY (SIOCIWFIRSTPRIV + 13)

#define MAX_REPLIES 16
#define MAX_STATUS 64
#define MAX_FAILS 32
#define STATUS_FAIL INT32_MIN
#define REPEATS_LOGGED 50

struct reply {
    char path[256];
    long length; /* -1: bytes of the file + 1 */
};

struct fail_rule {
    unsigned long request;
    long nth; /* 0: all */
};

static struct {
    int loaded;
    struct reply replies[MAX_REPLIES];
    int n_replies, next_reply;
    int32_t status[MAX_STATUS];
    int n_status, next_status;
    long status_repeats;
    struct fail_rule fails[MAX_FAILS];
    int n_fails;
    long seen[PRIV_LAST - PRIV_FIRST + 1];
    char lockfile[256];
    char observe[256];
    int fast_sleep;
} S;

/* Heap allocations of the program and its libraries; the stand-in's own
 * (reading the scenario) are not counted. */
static long allocs;
static int in_stub;

#if defined(__SANITIZE_ADDRESS__)
/* Under AddressSanitizer the heap is the runtime's own: count through its
 * hook (malloc, calloc and realloc all report there) instead of taking
 * malloc away from it. */
int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                              void (*)(const volatile void *));

static void count_allocation(const volatile void *p, size_t n) {
    (void)p;
    (void)n;
    if (!in_stub)
        allocs++;
}

__attribute__((constructor)) static void install_allocation_count(void) {
    __sanitizer_install_malloc_and_free_hooks(count_allocation, 0);
}
#else
extern void *__libc_malloc(size_t);
extern void *__libc_calloc(size_t, size_t);
extern void *__libc_realloc(void *, size_t);

void *malloc(size_t n) {
    if (!in_stub)
        allocs++;
    return __libc_malloc(n);
}

void *calloc(size_t n, size_t size) {
    if (!in_stub)
        allocs++;
    return __libc_calloc(n, size);
}

void *realloc(void *p, size_t n) {
    if (!in_stub)
        allocs++;
    return __libc_realloc(p, n);
}
#endif

static void copy_field(char *dst, size_t size, const char *src) {
    snprintf(dst, size, "%s", src ? src : "");
}

static void load_scenario(void) {
    if (S.loaded)
        return;
    S.loaded = 1;
    in_stub = 1;
    copy_field(S.lockfile, sizeof S.lockfile, "/var/run/spinlock.1.lock");
    const char *path = getenv("WL_DRIVER_SCENARIO");
    if (!path) {
        in_stub = 0;
        return;
    }
    FILE *f = fopen(path, "re");
    if (!f) {
        fprintf(stderr, "wl_driver_stub: cannot open scenario %s\n", path);
        in_stub = 0;
        return;
    }
    char line[1024];
    while (fgets(line, sizeof line, f)) {
        char *hash = strchr(line, '#');
        if (hash)
            *hash = '\0';
        char *save = NULL;
        char *word = strtok_r(line, " \t\r\n", &save);
        if (!word)
            continue;
        if (strcmp(word, "reply") == 0 && S.n_replies < MAX_REPLIES) {
            struct reply *r = &S.replies[S.n_replies++];
            copy_field(r->path, sizeof r->path, strtok_r(NULL, " \t\r\n", &save));
            const char *len = strtok_r(NULL, " \t\r\n", &save);
            r->length = len ? strtol(len, NULL, 0) : -1;
        } else if (strcmp(word, "status") == 0) {
            const char *v;
            while ((v = strtok_r(NULL, " \t\r\n", &save)) && S.n_status < MAX_STATUS)
                S.status[S.n_status++] =
                    strcmp(v, "fail") == 0 ? STATUS_FAIL : (int32_t)strtol(v, NULL, 0);
        } else if (strcmp(word, "fail") == 0 && S.n_fails < MAX_FAILS) {
            const char *req = strtok_r(NULL, " \t\r\n", &save);
            const char *nth = strtok_r(NULL, " \t\r\n", &save);
            if (!req)
                continue;
            S.fails[S.n_fails].request = strtoul(req, NULL, 0);
            S.fails[S.n_fails].nth = (!nth || strcmp(nth, "all") == 0) ? 0 : strtol(nth, NULL, 0);
            S.n_fails++;
        } else if (strcmp(word, "lockfile") == 0) {
            copy_field(S.lockfile, sizeof S.lockfile, strtok_r(NULL, " \t\r\n", &save));
        } else if (strcmp(word, "observe") == 0) {
            copy_field(S.observe, sizeof S.observe, strtok_r(NULL, " \t\r\n", &save));
        } else if (strcmp(word, "sleep") == 0) {
            const char *how = strtok_r(NULL, " \t\r\n", &save);
            S.fast_sleep = how && strcmp(how, "fast") == 0;
        }
    }
    fclose(f);
    in_stub = 0;
}

/* Bounded appender for one log line. */
struct line {
    char text[2048];
    size_t len;
};

static void add(struct line *l, const char *fmt, ...) {
    if (l->len >= sizeof l->text)
        return;
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(l->text + l->len, sizeof l->text - l->len, fmt, ap);
    va_end(ap);
    if (n > 0)
        l->len += (size_t)n;
    if (l->len >= sizeof l->text)
        l->len = sizeof l->text - 1;
}

static void add_bytes(struct line *l, const unsigned char *p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (p[i] == '\0')
            add(l, "\\0");
        else if (p[i] == '\\')
            add(l, "\\\\");
        else if (p[i] < 0x20 || p[i] > 0x7e)
            add(l, "\\x%02x", p[i]);
        else
            add(l, "%c", p[i]);
    }
}

static void emit(struct line *l) {
    const char *path = getenv("WL_DRIVER_LOG");
    if (!path)
        return;
    add(l, "\n");
    if (l->text[l->len - 1] != '\n')
        l->text[l->len - 1] = '\n';
    /* One write per line with O_APPEND: lines of two clients never mix. */
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    ssize_t w = write(fd, l->text, l->len);
    (void)w;
    close(fd);
}

static void start_line(struct line *l, const char *kind) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    l->len = 0;
    add(l, "%s\tpid=%d\tt=%lld\tallocs=%ld", kind, (int)getpid(),
        (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000, allocs);
}

/* Whether someone holds the platform lock: a fresh open file description
 * conflicts with every other flock on the file, the caller's own included. */
static const char *lock_state(void) {
    if (!S.lockfile[0])
        return "unknown";
    int fd = open(S.lockfile, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "free";
    const char *state = "free";
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        state = errno == EWOULDBLOCK ? "held" : "error";
    close(fd); /* drops the probe's own lock, if it got it */
    return state;
}

static const char *socket_kind(int fd) {
    int domain = 0, type = 0;
    socklen_t len = sizeof domain;
    if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &len) != 0)
        return "none";
    len = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0)
        return "none";
    if (domain == AF_INET && type == SOCK_DGRAM)
        return "inet-dgram";
    return "other";
}

static int should_fail(unsigned long request) {
    long count = ++S.seen[request - PRIV_FIRST];
    for (int i = 0; i < S.n_fails; ++i)
        if (S.fails[i].request == request && (S.fails[i].nth == 0 || S.fails[i].nth == count))
            return 1;
    return 0;
}

static void observe_file(struct line *l) {
    if (!S.observe[0])
        return;
    struct stat st;
    int fd = open(S.observe, O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fstat(fd, &st) != 0) {
        add(l, "\tseen=<missing>");
        if (fd >= 0)
            close(fd);
        return;
    }
    unsigned char buf[64];
    ssize_t n = read(fd, buf, sizeof buf);
    close(fd);
    add(l, "\tino=%lu\tseen=", (unsigned long)st.st_ino);
    if (n > 0)
        add_bytes(l, buf, (size_t)n);
}

static int serve_survey(struct iwreq *wrq, struct line *l) {
    if (S.n_replies == 0) {
        wrq->u.data.length = 0;
        add(l, "\treported=0");
        return 0;
    }
    const struct reply *r = &S.replies[S.next_reply];
    if (S.next_reply + 1 < S.n_replies)
        S.next_reply++;
    size_t room = wrq->u.data.length;
    size_t copied = 0;
    int fd = open(r->path, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        while (copied < room) {
            ssize_t n = read(fd, (char *)wrq->u.data.pointer + copied, room - copied);
            if (n <= 0)
                break;
            copied += (size_t)n;
        }
        close(fd);
    } else {
        add(l, "\treply=<missing %s>", r->path);
    }
    long reported = r->length >= 0 ? r->length : (long)copied + 1;
    if (reported > 0xffff)
        reported = 0xffff;
    wrq->u.data.length = (uint16_t)reported;
    add(l, "\tcopied=%zu\treported=%ld", copied, reported);
    return 0;
}

/* 0 on success, -1 with the word untouched for a scripted failure. */
static int serve_status(struct iwreq *wrq, struct line *l, int *quiet) {
    int32_t code;
    if (S.n_status == 0)
        return 0;
    code = S.status[S.next_status];
    if (S.next_status + 1 < S.n_status) {
        S.next_status++;
    } else if (++S.status_repeats > REPEATS_LOGGED) {
        /* The client polls back to back: keep the log readable. */
        *quiet = 1;
    }
    if (code == STATUS_FAIL) {
        add(l, "\tstatus=fail");
        return -1;
    }
    if (wrq->u.data.length >= sizeof code)
        memcpy(wrq->u.data.pointer, &code, sizeof code);
    add(l, "\tstatus=%d", (int)code);
    return 0;
}

typedef int (*ioctl_fn)(int, unsigned long, ...);

int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);

    if (request < PRIV_FIRST || request > PRIV_LAST) {
        static ioctl_fn real;
        if (!real) {
            in_stub = 1;
            real = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
            in_stub = 0;
        }
        if (!real) {
            errno = ENOSYS;
            return -1;
        }
        return real(fd, request, arg);
    }

    load_scenario();
    struct iwreq *wrq = arg;
    struct line l;
    start_line(&l, "ioctl");
    char name[IFNAMSIZ + 1];
    memcpy(name, wrq->ifr_name, IFNAMSIZ);
    name[IFNAMSIZ] = '\0';
    add(&l, "\tif=%s%s\treq=0x%lx\tlen=%u\tflags=0x%04x\tlock1=%s\tsock=%s", name,
        memchr(wrq->ifr_name, '\0', IFNAMSIZ) ? "" : "<unterminated>", request,
        (unsigned)wrq->u.data.length, (unsigned)wrq->u.data.flags, lock_state(), socket_kind(fd));

    int rc = 0, quiet = 0;
    const int failing = should_fail(request);
    switch (request) {
    case REQ_SET:
        if (failing)
            rc = -1;
        break;
    case REQ_SURVEY:
        rc = failing ? -1 : serve_survey(wrq, &l);
        break;
    case REQ_STATUS:
        observe_file(&l);
        rc = failing ? -1 : serve_status(wrq, &l, &quiet);
        break;
    default:
        rc = -1;
        break;
    }
    add(&l, "\trc=%d", rc);
    if (request == REQ_SET && wrq->u.data.pointer) {
        size_t n = wrq->u.data.length < 256 ? wrq->u.data.length : 256;
        add(&l, "\tdata=");
        add_bytes(&l, wrq->u.data.pointer, n);
    }
    if (!quiet)
        emit(&l);
    if (rc < 0)
        errno =
            request == REQ_SET || request == REQ_SURVEY || request == REQ_STATUS ? EIO : EOPNOTSUPP;
    return rc;
}

unsigned int sleep(unsigned int seconds) {
    load_scenario();
    struct line l;
    start_line(&l, "sleep");
    add(&l, "\tsecs=%u", seconds);
    emit(&l);
    if (S.fast_sleep)
        return 0;
    typedef unsigned int (*sleep_fn)(unsigned int);
    static sleep_fn real;
    if (!real) {
        in_stub = 1;
        real = (sleep_fn)dlsym(RTLD_NEXT, "sleep");
        in_stub = 0;
    }
    return real ? real(seconds) : 0;
}
