#include "reconnect/reconnect.h"

#include "gst_ptr.h"
#include "pipeline.h"
#include "player_state.h"
#include "reconnect/live_answer.h"
#include "reconnect/reconnect_budget.h"
#include "reconnect/source_watch.h"

#include <atomic>
#include <cstdio>

namespace {

// A drop when no audio has reached the output for this long while playing.
constexpr guint32 kSilenceLimitMs = 8000;
constexpr guint kSilenceCheckMs = 500;

enum class Phase { idle, waiting, connecting, ending };

// Monotonic time of the last buffer that reached the audio output, in
// milliseconds cut to 32 bits: the router's 32-bit CPU has no lock-free
// 64-bit atomics, and differences taken modulo 2^32 stay right for any gap
// shorter than 49 days.
std::atomic<guint32> last_audio_ms{0};

guint32 now_ms32() {
    return static_cast<guint32>(g_get_monotonic_time() / 1000);
}

Phase phase = Phase::idle;
ReconnectBudget budget;
bool drop_was_clean_close = false;
char last_cause[512] = "";
guint timer_id = 0;
guint silence_check_id = 0;
GstElement *watched_audio_bin = nullptr;
gint64 position_offset_ns = 0;
gint64 last_position_ns = 0;

gint64 now_ms() {
    return g_get_monotonic_time() / 1000;
}

void set_cause(const char *cause) {
    snprintf(last_cause, sizeof last_cause, "%s", cause);
}

GstPadProbeReturn on_audio_buffer(GstPad *, GstPadProbeInfo *, gpointer) {
    last_audio_ms.store(now_ms32());
    return GST_PAD_PROBE_OK;
}

bool live_stream_playing() {
    return player.playback_started && !player.sniffing && player.source && source_stream_is_live();
}

void cancel_timer() {
    if (timer_id)
        g_source_remove(timer_id);
    timer_id = 0;
}

// Nothing of the dropped connection may reach the bus handler afterwards:
// its errors and end would count as a new drop.
void stop_pipeline() {
    GstElement *pipeline = player.pipeline.load();
    gst_element_set_state(pipeline, GST_STATE_NULL);
    GstObjectPtr<GstBus> bus(gst_element_get_bus(pipeline));
    if (bus) {
        gst_bus_set_flushing(bus.get(), TRUE);
        gst_bus_set_flushing(bus.get(), FALSE);
    }
}

// Posted on the pipeline after it stopped, so the bus handler ends the run
// its ordinary way: exactly one final status, and no request after it.
void end_run(bool as_finished, const char *message) {
    phase = Phase::ending;
    cancel_timer();
    stop_pipeline();
    GstElement *pipeline = player.pipeline.load();
    if (as_finished) {
        gst_element_post_message(pipeline, gst_message_new_eos(GST_OBJECT(pipeline)));
        return;
    }
    post_pipeline_error(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, message);
}

// The HTTP status the source attached to its error; 0 without one.
unsigned http_status_of(GstMessage *error) {
    const GstStructure *details = nullptr;
    gst_message_parse_error_details(error, &details);
    unsigned status = 0;
    if (details)
        (void)gst_structure_get_uint(details, "http-status-code", &status);
    return status;
}

void give_up(bool too_many_drops) {
    char message[700];
    if (too_many_drops)
        snprintf(message, sizeof message,
                 "Lost the connection to the station too often (%d times within an hour; last: "
                 "%s)",
                 kDropsPerHour + 1, last_cause);
    else
        snprintf(message, sizeof message,
                 "Lost the connection to the station and could not re-establish it (%s)",
                 last_cause);
    end_run(false, message);
}

void attempt_failed(const char *cause);

gboolean on_connection_limit(gpointer) {
    timer_id = 0;
    attempt_failed("no audio from the station within 8 s");
    return G_SOURCE_REMOVE;
}

gboolean on_attempt(gpointer) {
    timer_id = 0;
    phase = Phase::connecting;
    forget_source_data_end();
    timer_id = g_timeout_add(static_cast<guint>(budget.connection_limit_ms(now_ms())),
                             on_connection_limit, nullptr);
    gst_element_set_state(player.pipeline.load(), GST_STATE_PLAYING);
    return G_SOURCE_REMOVE;
}

void follow(BudgetStep step) {
    if (step.give_up) {
        give_up(step.too_many_drops);
        return;
    }
    phase = Phase::waiting;
    timer_id = g_timeout_add(static_cast<guint>(step.wait_ms), on_attempt, nullptr);
}

void attempt_failed(const char *cause) {
    set_cause(cause);
    cancel_timer();
    stop_pipeline();
    follow(budget.on_attempt_failed(now_ms()));
}

void start_drop(const char *cause, bool clean_close) {
    set_cause(cause);
    drop_was_clean_close = clean_close;
    stop_pipeline();
    position_offset_ns = last_position_ns;
    follow(budget.on_drop(now_ms()));
}

void attempt_failed_with_error(GstMessage *message) {
    GErrorPtr error;
    GCharPtr debug;
    gst_message_parse_error(message, error.out(), debug.out());
    const char *text = error && error->message ? error->message : "error";
    // All the source says of a connection refused or cut before an answer.
    if (error && g_error_matches(error.get(), GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED))
        text = "the station could not be reached";
    const unsigned status = http_status_of(message);
    switch (judge_failed_reconnection(status, drop_was_clean_close)) {
    case ReconnectAnswer::try_again:
        attempt_failed(text);
        return;
    case ReconnectAnswer::end_as_finished:
        end_run(true, nullptr);
        return;
    case ReconnectAnswer::end_with_error: {
        char message_text[700];
        snprintf(message_text, sizeof message_text,
                 "Lost the connection to the station; it answered the reconnection with "
                 "HTTP %u (%s)",
                 status, text);
        end_run(false, message_text);
        return;
    }
    }
}

gboolean check_silence(gpointer) {
    if (phase == Phase::idle && live_stream_playing() &&
        player.tracked_state == GST_STATE_PLAYING &&
        static_cast<guint32>(now_ms32() - last_audio_ms.load()) >= kSilenceLimitMs)
        start_drop("no data from the station for 8 s", false);
    return G_SOURCE_CONTINUE;
}

void watch_audio_output() {
    last_audio_ms.store(now_ms32());
    if (!silence_check_id)
        silence_check_id = g_timeout_add(kSilenceCheckMs, check_silence, nullptr);
    if (!player.audio_bin || player.audio_bin == watched_audio_bin)
        return;
    GstObjectPtr<GstPad> pad(gst_element_get_static_pad(player.audio_bin, "sink"));
    if (!pad)
        return;
    watched_audio_bin = player.audio_bin;
    (void)gst_pad_add_probe(
        pad.get(),
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
        on_audio_buffer, nullptr, nullptr);
}

bool is_from_source(GstMessage *message) {
    return player.source && GST_MESSAGE_SRC(message) == GST_OBJECT(player.source);
}

// Before PLAYING, a file whose server answered a Range request with the
// whole body: played again from the start by a source that says it cannot
// seek, so nothing asks for a range any more.
bool retry_without_ranges(GstMessage *message) {
    if (player.playback_started || source_stream_is_live() || source_cannot_seek())
        return false;
    GErrorPtr error;
    GCharPtr debug;
    gst_message_parse_error(message, error.out(), debug.out());
    if (!error || !g_error_matches(error.get(), GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_SEEK))
        return false;
    if (http_status_of(message) != 200)
        return false;
    make_source_unseekable();
    stop_pipeline();
    gst_element_set_state(player.pipeline.load(), GST_STATE_PLAYING);
    return true;
}

enum class Verdict { taken, left, judge_as_drop };

// An error (or, with null, the end of stream) met while a reconnection is
// under way: the attempt's failure or a stale message (taken), or a final
// message for the bus handler (left). Outside one: judge_as_drop.
Verdict judge_during_reconnection(GstMessage *error) {
    switch (phase) {
    case Phase::ending:
        return Verdict::left;
    case Phase::waiting:
        return Verdict::taken;
    case Phase::connecting:
        if (error && is_from_source(error)) {
            attempt_failed_with_error(error);
            return Verdict::taken;
        }
        // A decoder's error after the connection's data ended is the
        // connection's failure, not a stream that cannot be decoded.
        if (error && !source_data_ended())
            return Verdict::left;
        attempt_failed("the station closed the connection before any audio");
        return Verdict::taken;
    case Phase::idle:
        break;
    }
    return Verdict::judge_as_drop;
}

} // namespace

bool reconnect_takes_error(GstMessage *message) {
    const Verdict verdict = judge_during_reconnection(message);
    if (verdict != Verdict::judge_as_drop)
        return verdict == Verdict::taken;
    if (!is_from_source(message))
        return false;
    if (retry_without_ranges(message))
        return true;
    if (!live_stream_playing())
        return false;
    GErrorPtr error;
    GCharPtr debug;
    gst_message_parse_error(message, error.out(), debug.out());
    start_drop(error && error->message ? error->message : "error", false);
    return true;
}

bool reconnect_takes_end_of_stream() {
    const Verdict verdict = judge_during_reconnection(nullptr);
    if (verdict != Verdict::judge_as_drop)
        return verdict == Verdict::taken;
    // A final chunk is the station saying the stream is complete.
    if (!live_stream_playing() || source_stream_is_chunked())
        return false;
    start_drop("the station closed the connection", true);
    return true;
}

bool reconnect_takes_playing() {
    if (!player.sniffing && source_stream_is_live())
        watch_audio_output();
    if (phase != Phase::connecting)
        return false;
    cancel_timer();
    phase = Phase::idle;
    budget.on_audio(now_ms());
    // A pause asked for while reconnecting.
    if (player.tracked_state == GST_STATE_PAUSED)
        gst_element_set_state(player.pipeline.load(), GST_STATE_PAUSED);
    return true;
}

bool reconnect_in_progress() {
    return phase != Phase::idle;
}

bool reconnect_takes_pause() {
    // Paused time is no silence, and resuming starts the count afresh.
    last_audio_ms.store(now_ms32());
    if (phase != Phase::waiting && phase != Phase::connecting)
        return false;
    player.tracked_state =
        player.tracked_state == GST_STATE_PAUSED ? GST_STATE_PLAYING : GST_STATE_PAUSED;
    return true;
}

gint64 reconnect_adjust_position(gint64 position_ns) {
    if (position_offset_ns > 0)
        position_ns = (position_ns == -1 ? 0 : position_ns) + position_offset_ns;
    if (position_ns != -1)
        last_position_ns = position_ns;
    return position_ns;
}
