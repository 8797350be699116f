// The files through which the rest of the router follows the player.
#pragma once

#include "report/report_paths.h"

#include <cstddef>
#include <cstdint>

// Longest third line of the status file, its NUL included.
inline constexpr size_t kStatusExtraMax = 64;

// Status file: played_location, word and (if not null) extra, one per line.
// Replaced atomically; a file that cannot be written is skipped silently.
// Without room in /tmp for a temporary, the status, duration and position
// files are replaced through the reserve (report_reserve.h).
void write_status(const char *word, const char *extra);

// "%llu" without newline, replaced atomically (duration and position files).
void write_seconds_file(const char *path, unsigned long long seconds);

// Exactly `length` bytes, replaced atomically (the title file). False when
// the file could not be written.
bool write_text_file(const char *path, const char *text, size_t length);

// "%d" without newline (pid file).
void write_pid_file();

// Start-up removal of the status, duration, irate and title files, in that
// order.
void remove_stale_files();

// Makes the reserve for the status, duration and position files, sized for
// played_location; once at start-up.
void reserve_report_files();

// Removes the duration, position, title and pid files, in that order, then
// the reserve.
void remove_run_files();
