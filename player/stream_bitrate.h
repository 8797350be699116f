// The bitrate a station's recording takes, and when it is taken.
//
// "/tmp/irate", when another component wrote a bitrate there, is what the
// station is known to send. Without it the stream's own bitrate as
// GStreamer's tags report it stands in: the nominal bitrate, else the
// bitrate. Tags usually arrive before the pipeline reaches PLAYING; when
// they do not, the first one that arrives while playing is recorded, once
// for that PLAYING report. Without either nothing is recorded: a guess
// would overwrite a correct value in the station list.
//
// Main-loop thread only.
#pragma once

#include <gst/gst.h>
#include <optional>

class StationBitrate {
  public:
    // At each PLAYING report, with the bitrate "/tmp/irate" gave (0 for
    // none). The bitrate to record now, if any.
    std::optional<int> at_playing_report(int irate_bitrate);

    // At each tag list, with its nominal bitrate and bitrate (0 when it has
    // none), and whether the stream is playing. The bitrate to record now,
    // if a PLAYING report is still waiting for one.
    std::optional<int> at_tags(unsigned nominal, unsigned bitrate, bool playing);

  private:
    std::optional<int> known() const;

    unsigned nominal_ = 0;
    unsigned bitrate_ = 0;
    bool waiting_ = false;
};

// Bus glue: decide with the player's StationBitrate and run the recording.
void record_station_bitrate_at_playing(int irate_bitrate);
void take_stream_tags(GstMessage *tag_message);
