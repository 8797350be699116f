#include "report/report_reserve.h"

#include "report/report_paths.h"

#include <atomic_file.h>
#include <unique_fd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using platform::UniqueFd;

constexpr size_t kSparesPerFile = 2;
// "%llu" of any 64-bit number.
constexpr size_t kSecondsMax = 20;
constexpr char kReserveTemplate[] = "/tmp/.sorvel-XXXXXX";

// A reported file and its spares. `spare` and `room` are touched only by the
// thread that holds `busy` (or by start-up and the end, when no one else
// writes reports).
struct Slot {
    const char *path;
    const char *name;
    size_t room = 0;
    bool spare[kSparesPerFile] = {};
    std::atomic<bool> busy{false};
};

Slot slots[] = {
    {kStatusFile, "sorvi.txt"}, {kDurationFile, "duration.txt"}, {kPositionFile, "position.txt"}};

char reserve_dir[sizeof kReserveTemplate] = {};
std::atomic<bool> reserve_ready{false};

bool spare_path(const Slot &slot, size_t index, char (&out)[64]) {
    const int n = snprintf(out, sizeof out, "%s/%s.%zu", reserve_dir, slot.name, index);
    return n > 0 && static_cast<size_t>(n) < sizeof out;
}

// A spare holds `room` bytes written out, so that the file system has
// handed over its blocks; what the bytes are does not matter.
bool make_spare(Slot &slot, size_t index) {
    char path[64];
    if (!spare_path(slot, index, path))
        return false;
    UniqueFd fd(open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.valid())
        return false;
    // Readers of the file it becomes need what a fresh report gets.
    bool ok = fchmod(fd.get(), 0644) == 0;
    // Small, so that the player's flash image does not carry a page of zeros.
    static const char zeros[512] = {};
    for (size_t at = 0; ok && at < slot.room; at += sizeof zeros) {
        const size_t chunk = slot.room - at < sizeof zeros ? slot.room - at : sizeof zeros;
        ok = platform::write_all(fd.get(), zeros, chunk) == 0;
    }
    ok = ok && fsync(fd.get()) == 0;
    ok = close(fd.release()) == 0 && ok;
    if (!ok) {
        (void)unlink(path);
        return false;
    }
    slot.spare[index] = true;
    return true;
}

void remove_spares() {
    for (Slot &slot : slots) {
        for (size_t i = 0; i < kSparesPerFile; ++i) {
            char path[64];
            if (slot.spare[i] && spare_path(slot, i, path))
                (void)unlink(path);
            slot.spare[i] = false;
        }
    }
    (void)rmdir(reserve_dir);
}

// Fills spare `from` with the pieces and renames it over the slot's file.
bool replace_with_spare(Slot &slot, size_t from, const FilePiece *pieces, size_t count) {
    char from_path[64];
    char keep_path[64];
    const size_t keep = (from + 1) % kSparesPerFile;
    if (!spare_path(slot, from, from_path) || !spare_path(slot, keep, keep_path))
        return false;
    {
        UniqueFd fd(open(from_path, O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
        if (!fd.valid())
            return false;
        off_t at = 0;
        bool ok = true;
        for (size_t i = 0; ok && i < count; ++i) {
            ok = platform::write_all(fd.get(), pieces[i].data, pieces[i].len) == 0;
            at += static_cast<off_t>(pieces[i].len);
        }
        // A shorter text gives back the blocks past its end: a later, longer
        // one may find too little room (only once a report grows by a block,
        // far beyond any status line but that of a very long location).
        ok = ok && ftruncate(fd.get(), at) == 0 && fsync(fd.get()) == 0;
        if (!(close(fd.release()) == 0 && ok))
            return false;
    }
    // The file's present copy stays ours, as the next spare. A reader that
    // has it open sees it change only once it is reused, a report later.
    struct stat st;
    bool kept = false;
    if (!slot.spare[keep] && lstat(slot.path, &st) == 0 && S_ISREG(st.st_mode))
        kept = link(slot.path, keep_path) == 0;
    if (rename(from_path, slot.path) != 0) {
        if (kept)
            (void)unlink(keep_path);
        return false;
    }
    slot.spare[from] = false;
    if (kept)
        slot.spare[keep] = true;
    return true;
}

} // namespace

void reserve_report_space(size_t status_max) {
    if (reserve_ready.load())
        return;
    memcpy(reserve_dir, kReserveTemplate, sizeof kReserveTemplate);
    if (mkdtemp(reserve_dir) == nullptr)
        return;
    slots[0].room = status_max;
    slots[1].room = kSecondsMax;
    slots[2].room = kSecondsMax;
    for (Slot &slot : slots) {
        for (size_t i = 0; i < kSparesPerFile; ++i) {
            if (!make_spare(slot, i)) {
                remove_spares();
                return;
            }
        }
    }
    reserve_ready.store(true);
}

bool replace_from_reserve(const char *path, const FilePiece *pieces, size_t count) {
    if (!reserve_ready.load())
        return false;
    for (Slot &slot : slots) {
        if (strcmp(slot.path, path) != 0)
            continue;
        if (slot.busy.exchange(true))
            return false;
        bool done = false;
        for (size_t i = 0; !done && i < kSparesPerFile; ++i)
            done = slot.spare[i] && replace_with_spare(slot, i, pieces, count);
        slot.busy.store(false);
        return done;
    }
    return false;
}

void release_report_space() {
    if (reserve_ready.exchange(false))
        remove_spares();
}
