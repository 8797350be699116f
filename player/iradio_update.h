// Records the bitrate measured for the internet-radio station being played
// into the station list and the station's user entries in the settings store.
#pragma once

inline constexpr const char *kStationKeyFile = "/tmp/iradio";
inline constexpr const char *kBuiltinListFile = "/etc_ro/radio/builtin.list";
inline constexpr const char *kUserBuiltinListFile = "/etc_ro/radio/user_builtin.list";
inline constexpr const char *kUserUrlFile = "/tmp/url";

// Called at every PLAYING report with the bitrate in bits per second (or the
// sample rate when no bitrate was known). Returns non-zero when there is no
// station: "/tmp/iradio" is absent or not a regular file of its own (a
// symbolic link is never followed); 0 when "/tmp/url" cannot be opened (it
// is read on the same terms) or there is no station key; else the result of closing
// "/tmp/url". Prints "we found it at [%d]\n" on standard error for every
// "/tmp/url" line that marks the station.
int iradio_update(int bitrate);

// The files iradio_update works on; tests point them at a scratch directory.
struct BitrateRecordingFiles {
    const char *station_key;
    const char *builtin_list;
    const char *user_builtin_list;
    const char *user_urls;
};

int iradio_update_in(const BitrateRecordingFiles &files, int bitrate);
