#include "stream_bitrate.h"

#include "gst_ptr.h"
#include "iradio_update.h"
#include "player_state.h"
#include "termination.h"

#include <climits>

namespace {

StationBitrate station_bitrate;

int clamp_to_int(unsigned value) {
    return value > static_cast<unsigned>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

unsigned tag_uint(const GstTagList *tags, const char *tag) {
    guint value = 0;
    return gst_tag_list_get_uint(tags, tag, &value) ? value : 0;
}

void tag_list_unref(GstTagList *tags) {
    gst_tag_list_unref(tags);
}
using GstTagListPtr = OwnedPtr<GstTagList, tag_list_unref>;

} // namespace

std::optional<int> StationBitrate::known() const {
    if (nominal_ != 0)
        return clamp_to_int(nominal_);
    if (bitrate_ != 0)
        return clamp_to_int(bitrate_);
    return std::nullopt;
}

std::optional<int> StationBitrate::at_playing_report(int irate_bitrate) {
    waiting_ = false;
    if (irate_bitrate != 0)
        return irate_bitrate;
    const std::optional<int> stream = known();
    waiting_ = !stream;
    return stream;
}

std::optional<int> StationBitrate::at_tags(unsigned nominal, unsigned bitrate, bool playing) {
    if (nominal != 0)
        nominal_ = nominal;
    if (bitrate != 0)
        bitrate_ = bitrate;
    if (!waiting_ || !playing)
        return std::nullopt;
    const std::optional<int> stream = known();
    if (stream)
        waiting_ = false;
    return stream;
}

void record_station_bitrate_at_playing(int irate_bitrate) {
    if (const std::optional<int> bitrate = station_bitrate.at_playing_report(irate_bitrate))
        (void)iradio_update(*bitrate);
}

void take_stream_tags(GstMessage *tag_message) {
    GstTagList *parsed = nullptr;
    gst_message_parse_tag(tag_message, &parsed);
    GstTagListPtr tags(parsed);
    if (!tags)
        return;
    const bool playing =
        player.playback_started && !player.sniffing && player.tracked_state == GST_STATE_PLAYING;
    const std::optional<int> bitrate =
        station_bitrate.at_tags(tag_uint(tags.get(), GST_TAG_NOMINAL_BITRATE),
                                tag_uint(tags.get(), GST_TAG_BITRATE), playing);
    // Recording rewrites the station list: not once the run is ending.
    if (!bitrate || !begin_run_file_write())
        return;
    (void)iradio_update(*bitrate);
    end_run_file_write();
}
