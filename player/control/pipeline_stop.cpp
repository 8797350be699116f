#include "control/pipeline_stop.h"

#include <atomic>
#include <cerrno>
#include <pthread.h>
#include <time.h>

namespace {

// One end per process, so one request. Static storage outlives a helper
// thread that is still stuck when the caller gives up on it.
struct StopRequest {
    GstElement *pipeline = nullptr;
    std::atomic<int> done{0};
};
StopRequest stop_request;

void *stop_thread(void *) {
    (void)gst_element_set_state(stop_request.pipeline, GST_STATE_NULL);
    stop_request.done.store(1);
    return nullptr;
}

void sleep_ms(long ms) {
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

} // namespace

bool stop_pipeline_within(GstElement *pipeline, unsigned wait_ms) {
    if (!pipeline) {
        return true;
    }
    stop_request.pipeline = pipeline;
    pthread_attr_t attr;
    pthread_t thread;
    bool started = false;
    if (pthread_attr_init(&attr) == 0) {
        // A state change goes deep into GStreamer but needs nowhere near the
        // default 8 MB a thread reserves.
        (void)pthread_attr_setstacksize(&attr, 256 * 1024);
        (void)pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
        started = pthread_create(&thread, &attr, stop_thread, nullptr) == 0;
        (void)pthread_attr_destroy(&attr);
    }
    if (!started) {
        // No thread to spare: stop it here, unbounded, as a plain end would.
        (void)gst_element_set_state(pipeline, GST_STATE_NULL);
        return true;
    }
    constexpr long kStepMs = 5;
    for (unsigned waited = 0; waited < wait_ms; waited += kStepMs) {
        if (stop_request.done.load()) {
            return true;
        }
        sleep_ms(kStepMs);
    }
    return stop_request.done.load() != 0;
}
