// Where the player reports, and the files others hand it.
#pragma once

inline constexpr const char *kStatusFile = "/tmp/sorvi.txt";
inline constexpr const char *kDurationFile = "/tmp/duration.txt";
inline constexpr const char *kPositionFile = "/tmp/position.txt";
inline constexpr const char *kPidFile = "/var/run/sorvel.pid";
inline constexpr const char *kIrateFile = "/tmp/irate";
inline constexpr const char *kSeekFile = "/tmp/seek.txt";
inline constexpr const char *kTitleFile = "/tmp/title.txt";
