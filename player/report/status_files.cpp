#include "report/status_files.h"

#include "control/termination.h"
#include "player_state.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool write_all(int fd, const char *data, size_t len) {
    while (len > 0) {
        ssize_t n = write(fd, data, len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

struct Piece {
    const char *data;
    size_t len;
};

bool out_of_space(int err) {
    return err == ENOSPC || err == EDQUOT;
}

// With /tmp full there is no room for a second copy, but the file's own
// blocks are freed by truncating it and taken again by the write: the last
// word of a run still reaches the controller. Only a file that exists is
// rewritten this way; a new one would be left empty.
void rewrite_in_place(const char *path, const Piece *pieces, size_t count) {
    // A planted FIFO must not block us, nor a planted device be written.
    int fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        (void)close(fd);
        return;
    }
    for (size_t i = 0; i < count; ++i)
        if (!write_all(fd, pieces[i].data, pieces[i].len))
            break;
    (void)close(fd);
}

// Readers (the controller, the web pages) poll these files; they must see
// either the old content or the new one, never a half-written file. So the
// content goes to a temporary file beside the target and is renamed over it.
void replace_file_now(const char *path, const Piece *pieces, size_t count) {
    char tmp[256];
    int n = snprintf(tmp, sizeof tmp, "%s.XXXXXX", path);
    if (n < 0 || static_cast<size_t>(n) >= sizeof tmp)
        return;
    // Close-on-exec: a command another thread starts meanwhile must not
    // keep the half-written file open.
    int fd = mkostemp(tmp, O_CLOEXEC);
    if (fd < 0) {
        if (out_of_space(errno))
            rewrite_in_place(path, pieces, count);
        return;
    }
    bool ok = true;
    // mkstemp creates 0600; other programs of the router read these files.
    if (fchmod(fd, 0644) != 0)
        ok = false;
    for (size_t i = 0; ok && i < count; ++i)
        ok = write_all(fd, pieces[i].data, pieces[i].len);
    if (ok && fsync(fd) != 0)
        ok = false;
    int err = ok ? 0 : errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && rename(tmp, path) == 0)
        return;
    (void)unlink(tmp);
    if (out_of_space(err))
        rewrite_in_place(path, pieces, count);
}

// Once the run is ending on another thread, nothing but that thread's final
// status may be written.
void replace_file(const char *path, const Piece *pieces, size_t count) {
    if (!begin_run_file_write())
        return;
    replace_file_now(path, pieces, count);
    end_run_file_write();
}

Piece piece(const char *s) {
    return Piece{s, strlen(s)};
}

} // namespace

void write_status(const char *word, const char *extra) {
    const char *location = player.played_location ? player.played_location : "";
    Piece pieces[] = {
        piece(location),         piece("\n"), piece(word), piece("\n"), piece(extra ? extra : ""),
        piece(extra ? "\n" : "")};
    replace_file(kStatusFile, pieces, sizeof pieces / sizeof pieces[0]);
}

void write_seconds_file(const char *path, unsigned long long seconds) {
    char text[24];
    int n = snprintf(text, sizeof text, "%llu", seconds);
    if (n < 0 || static_cast<size_t>(n) >= sizeof text)
        return;
    Piece p{text, static_cast<size_t>(n)};
    replace_file(path, &p, 1);
}

void write_text_file(const char *path, const char *text, size_t length) {
    Piece p{text, length};
    replace_file(path, &p, 1);
}

void write_pid_file() {
    char text[16];
    int n = snprintf(text, sizeof text, "%d", static_cast<int>(getpid()));
    if (n < 0 || static_cast<size_t>(n) >= sizeof text)
        return;
    Piece p{text, static_cast<size_t>(n)};
    replace_file(kPidFile, &p, 1);
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
}
