#include "control/signals.h"

#include "control/pipeline_stop.h"
#include "control/seek_text.h"
#include "control/termination.h"
#include "player_state.h"
#include "reconnect/reconnect.h"
#include "report/status_files.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gst/gst.h>
#include <pthread.h>
#include <unistd.h>

namespace {

struct ControlSignal {
    int signo;
    // Set once by the start-up sequence, read by the signal thread.
    std::atomic<int> installed;
    // The disposition the process was started with was "ignore".
    bool ignored_at_start;
};

ControlSignal control_signals[] = {
    {SIGTERM, {0}, false},
    {SIGALRM, {0}, false},
    {SIGUSR1, {0}, false},
    {SIGUSR2, {0}, false},
};

sigset_t blocked_set;
sigset_t start_mask; // the mask the process started with, for children

ControlSignal *find_signal(int signo) {
    for (ControlSignal &s : control_signals) {
        if (s.signo == signo) {
            return &s;
        }
    }
    return nullptr;
}

// A signal that came before its handler was installed gets what it would
// have got without the block: nothing if it was ignored, else the default
// action, which for all four ends the process.
void apply_start_disposition(const ControlSignal &s) {
    if (s.ignored_at_start) {
        return;
    }
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    (void)sigemptyset(&dfl.sa_mask);
    (void)sigaction(s.signo, &dfl, nullptr);
    sigset_t only;
    (void)sigemptyset(&only);
    (void)sigaddset(&only, s.signo);
    (void)pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    (void)raise(s.signo);
    // Not reached: the default action has ended the process.
    _exit(128 + s.signo);
}

void queue_on_main_loop(GSourceFunc callback) {
    // Same priority as the bus watch and the position timer, so a stream of
    // timer ticks cannot starve a pause request.
    (void)g_idle_add_full(G_PRIORITY_DEFAULT, callback, nullptr, nullptr);
}

void *signal_thread(void *) {
    for (;;) {
        int signo = 0;
        if (sigwait(&blocked_set, &signo) != 0) {
            continue;
        }
        ControlSignal *s = find_signal(signo);
        if (!s) {
            continue;
        }
        if (!s->installed.load()) {
            apply_start_disposition(*s);
            continue;
        }
        switch (signo) {
        case SIGTERM:
            kill_cb(signo);
        case SIGALRM:
            timeout_cb(signo);
        case SIGUSR1:
            queue_on_main_loop(pause_cb);
            break;
        case SIGUSR2:
            queue_on_main_loop(seek_cb);
            break;
        default:
            break;
        }
    }
    return nullptr;
}

[[noreturn]] void cannot_take_signals(const char *what) {
    fprintf(stderr, "sorvel: cannot %s\n", what);
    exit(1);
}

// One read of at most 100 bytes. O_NONBLOCK: a FIFO put in the file's place
// must not hang the main loop when nobody writes to it.
bool read_seek_file(char (&buf)[kSeekFileReadMax], size_t *len) {
    int fd = open(kSeekFile, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ssize_t n;
    do {
        n = read(fd, buf, sizeof buf);
    } while (n < 0 && errno == EINTR);
    (void)close(fd);
    if (n <= 0) {
        return false;
    }
    *len = static_cast<size_t>(n);
    return true;
}

} // namespace

void take_control_signals() {
    (void)sigemptyset(&blocked_set);
    for (ControlSignal &s : control_signals) {
        (void)sigaddset(&blocked_set, s.signo);
        struct sigaction current = {};
        if (sigaction(s.signo, nullptr, &current) == 0) {
            s.ignored_at_start = current.sa_handler == SIG_IGN;
        }
    }
    if (pthread_sigmask(SIG_BLOCK, &blocked_set, &start_mask) != 0) {
        cannot_take_signals("block the control signals");
    }
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        cannot_take_signals("start the signal thread");
    }
    // The thread's deepest call is the end of a run (GStreamer state
    // change, status file); a fraction of the default 8 MB is plenty. If
    // the size is refused the default stays.
    (void)pthread_attr_setstacksize(&attr, 256 * 1024);
    (void)pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int rc = pthread_create(&thread, &attr, signal_thread, nullptr);
    (void)pthread_attr_destroy(&attr);
    if (rc != 0) {
        cannot_take_signals("start the signal thread");
    }
}

void install_timeout_handler() {
    find_signal(SIGALRM)->installed.store(1);
    (void)alarm(kStartupTimeoutSeconds);
}

void install_control_handlers() {
    find_signal(SIGUSR1)->installed.store(1);
    find_signal(SIGUSR2)->installed.store(1);
    find_signal(SIGTERM)->installed.store(1);
}

int restore_child_signal_mask(posix_spawnattr_t *attr) {
    short flags = 0;
    int rc = posix_spawnattr_getflags(attr, &flags);
    if (rc == 0) {
        rc = posix_spawnattr_setsigmask(attr, &start_mask);
    }
    if (rc == 0) {
        rc = posix_spawnattr_setflags(attr, static_cast<short>(flags | POSIX_SPAWN_SETSIGMASK));
    }
    return rc;
}

gboolean pause_cb(gpointer) {
    if (!player.playback_started) {
        return G_SOURCE_REMOVE;
    }
    player.stall_count = 0;
    if (reconnect_takes_pause()) {
        return G_SOURCE_REMOVE;
    }
    GstState current = GST_STATE_VOID_PENDING;
    GstElement *pipeline = player.pipeline.load();
    (void)gst_element_get_state(pipeline, &current, nullptr, 0);
    player.tracked_state = current;
    if (current == GST_STATE_PAUSED) {
        (void)gst_element_set_state(pipeline, GST_STATE_PLAYING);
        player.tracked_state = GST_STATE_PLAYING;
    } else if (current == GST_STATE_PLAYING) {
        (void)gst_element_set_state(pipeline, GST_STATE_PAUSED);
        player.tracked_state = GST_STATE_PAUSED;
    } else {
        g_print("Invalid sate:[%s]\n", gst_element_state_get_name(current));
    }
    return G_SOURCE_REMOVE;
}

gboolean seek_cb(gpointer) {
    if (!player.playback_started) {
        return G_SOURCE_REMOVE;
    }
    char buf[kSeekFileReadMax];
    size_t len = 0;
    if (!read_seek_file(buf, &len)) {
        return G_SOURCE_REMOVE;
    }
    const std::optional<std::int32_t> seconds = seek_seconds_from_text({buf, len});
    // GStreamer refuses a negative position with a critical warning; the
    // seek would not happen either way.
    if (!seconds || *seconds < 0) {
        return G_SOURCE_REMOVE;
    }
    const gint64 target = static_cast<gint64>(*seconds) * GST_SECOND;
    (void)gst_element_seek_simple(player.pipeline.load(), GST_FORMAT_TIME, GST_SEEK_FLAG_FLUSH,
                                  target);
    return G_SOURCE_REMOVE;
}

void kill_cb(int) {
    if (!claim_end_of_run()) {
        park_forever();
    }
    // The pipeline is stopped but not released: the main loop may still be
    // using it at this very moment, and the exit below releases it anyway.
    (void)stop_pipeline_within(player.pipeline.load(), kPipelineStopWaitMs);
    write_status("KILLED", nullptr);
    remove_run_files();
    exit(1);
}

void timeout_cb(int) {
    if (!claim_end_of_run()) {
        park_forever();
    }
    write_status("TIMEOUT", nullptr);
    remove_run_files();
    notify_controller();
    exit(1);
}
