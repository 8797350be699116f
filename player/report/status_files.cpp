#include "report/status_files.h"

#include "control/termination.h"
#include "player_state.h"
#include "report/report_reserve.h"

#include <atomic_file.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool out_of_space(int err) {
    return err == ENOSPC || err == EDQUOT;
}

// Readers (the controller, the web pages) poll these files; they must see
// either the old content or the new one, never a half-written file. So the
// content goes to a temporary file beside the target and is renamed over it;
// without room for one, through the player's reserve (report_reserve.h).
// A file is never rewritten in place: with another program filling /tmp, the
// blocks a truncation gives back are gone before the new text can take them.
bool replace_file_now(const char *path, const FilePiece *pieces, size_t count) {
    char tmp[256];
    int n = snprintf(tmp, sizeof tmp, "%s.XXXXXX", path);
    if (n < 0 || static_cast<size_t>(n) >= sizeof tmp)
        return false;
    // Close-on-exec: a command another thread starts meanwhile must not
    // keep the half-written file open.
    int fd = mkostemp(tmp, O_CLOEXEC);
    if (fd < 0)
        return out_of_space(errno) && replace_from_reserve(path, pieces, count);
    bool ok = true;
    // mkstemp creates 0600; other programs of the router read these files.
    if (fchmod(fd, 0644) != 0)
        ok = false;
    for (size_t i = 0; ok && i < count; ++i)
        ok = platform::write_all(fd, pieces[i].data, pieces[i].len) == 0;
    if (ok && fsync(fd) != 0)
        ok = false;
    int err = ok ? 0 : errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && rename(tmp, path) == 0)
        return true;
    (void)unlink(tmp);
    return out_of_space(err) && replace_from_reserve(path, pieces, count);
}

// Once the run is ending on another thread, nothing but that thread's final
// status may be written.
bool replace_file(const char *path, const FilePiece *pieces, size_t count) {
    if (!begin_run_file_write())
        return false;
    const bool done = replace_file_now(path, pieces, count);
    end_run_file_write();
    return done;
}

FilePiece piece(const char *s) {
    return FilePiece{s, strlen(s)};
}

} // namespace

void write_status(const char *word, const char *extra) {
    const char *location = player.played_location ? player.played_location : "";
    FilePiece pieces[] = {
        piece(location),         piece("\n"), piece(word), piece("\n"), piece(extra ? extra : ""),
        piece(extra ? "\n" : "")};
    replace_file(kStatusFile, pieces, sizeof pieces / sizeof pieces[0]);
}

void write_seconds_file(const char *path, unsigned long long seconds) {
    char text[24];
    int n = snprintf(text, sizeof text, "%llu", seconds);
    if (n < 0 || static_cast<size_t>(n) >= sizeof text)
        return;
    FilePiece p{text, static_cast<size_t>(n)};
    (void)replace_file(path, &p, 1);
}

bool write_text_file(const char *path, const char *text, size_t length) {
    FilePiece p{text, length};
    return replace_file(path, &p, 1);
}

void write_pid_file() {
    char text[16];
    int n = snprintf(text, sizeof text, "%d", static_cast<int>(getpid()));
    if (n < 0 || static_cast<size_t>(n) >= sizeof text)
        return;
    FilePiece p{text, static_cast<size_t>(n)};
    // A pid file left by a run that did not end in order names some other
    // process: without room for ours, none is better.
    if (!replace_file(kPidFile, &p, 1))
        (void)unlink(kPidFile);
}

void reserve_report_files() {
    // Made on the main thread while another may end the run: the end waits
    // for it, and removes what it made.
    if (!begin_run_file_write())
        return;
    const char *location = player.played_location ? player.played_location : "";
    // Location, the longest word and the PLAYING line, each with its line end.
    reserve_report_space(strlen(location) + sizeof player.error_text + kStatusExtraMax + 3);
    end_run_file_write();
}

void remove_stale_files() {
    (void)unlink(kStatusFile);
    (void)unlink(kDurationFile);
    (void)unlink(kIrateFile);
    // A title left by an earlier run must not be shown for this one.
    (void)unlink(kTitleFile);
}

void remove_run_files() {
    (void)unlink(kDurationFile);
    (void)unlink(kPositionFile);
    (void)unlink(kTitleFile);
    (void)unlink(kPidFile);
    release_report_space();
}
