#include "report/playing_report.h"

#include "gst_ptr.h"
#include "player_state.h"
#include "regular_file.h"
#include "report/status_files.h"

#include <shared.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Another component writes it in /tmp: read like the station key.
int read_irate() {
    FILE *file = open_regular_file(kIrateFile, false, LinkAtPath::refuse);
    if (!file)
        return 0;
    char line[30];
    int bitrate = fgets(line, sizeof line, file) ? irate_bitrate(line) : 0;
    fclose(file);
    return bitrate;
}

// The sample rate as the audio bin's input caps carry it, serialized; null
// when there are no caps yet or they carry no rate.
gchar *current_sample_rate() {
    GstElement *audio_bin = player.audio_bin;
    if (!audio_bin)
        return nullptr;
    GstObjectPtr<GstPad> pad(gst_element_get_static_pad(audio_bin, "sink"));
    if (!pad)
        return nullptr;
    GstCapsPtr caps(gst_pad_get_current_caps(pad.get()));
    if (!caps || gst_caps_get_size(caps.get()) == 0)
        return nullptr;
    const GValue *rate = gst_structure_get_value(gst_caps_get_structure(caps.get(), 0), "rate");
    return rate ? gst_value_serialize(rate) : nullptr;
}

// What the duration file holds since the last PLAYING report.
unsigned long long reported_duration = 0;

unsigned long long query_duration(GstElement *pipeline) {
    gint64 position = 0, duration = 0;
    bool position_known = gst_element_query_position(pipeline, GST_FORMAT_TIME, &position);
    bool duration_known =
        position_known && gst_element_query_duration(pipeline, GST_FORMAT_TIME, &duration);
    return duration_seconds(position_known, duration_known, duration);
}

} // namespace

unsigned long long duration_seconds(bool position_known, bool duration_known, gint64 duration_ns) {
    if (!position_known || !duration_known || duration_ns == -1)
        return 0;
    return static_cast<unsigned long long>(duration_ns / GST_SECOND);
}

int irate_bitrate(const char *line) {
    return atoi(line);
}

void format_playing_line(int bitrate, const char *rate, char *out, size_t size) {
    if (!rate)
        snprintf(out, size, "%d,0", bitrate);
    else if (bitrate != 0)
        snprintf(out, size, "%d,%s", bitrate, rate);
    else
        snprintf(out, size, "0,%s", rate);
}

int report_playing() {
    reported_duration = query_duration(player.pipeline.load());
    write_seconds_file(kDurationFile, reported_duration);

    GCharPtr rate(current_sample_rate());
    char line[kStatusExtraMax];
    const int bitrate = read_irate();
    format_playing_line(bitrate, rate.get(), line, sizeof line);
    write_status("PLAYING", line);
    (void)nvram_set("radio_preparing", "0");
    return bitrate;
}

void refresh_duration() {
    const unsigned long long seconds = query_duration(player.pipeline.load());
    if (seconds == reported_duration)
        return;
    reported_duration = seconds;
    write_seconds_file(kDurationFile, seconds);
}
