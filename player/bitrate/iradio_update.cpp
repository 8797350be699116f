#include "bitrate/iradio_update.h"

#include "bitrate/station_list.h"
#include "regular_file.h"

#include <shared.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class File {
  public:
    explicit File(FILE *f) : f_(f) {}
    File(const File &) = delete;
    File &operator=(const File &) = delete;
    ~File() {
        if (f_ != nullptr)
            (void)std::fclose(f_);
    }
    FILE *get() const { return f_; }
    explicit operator bool() const { return f_ != nullptr; }
    // Hands the stream back to the caller, who then closes it.
    FILE *release() {
        FILE *f = f_;
        f_ = nullptr;
        return f;
    }

  private:
    FILE *f_;
};

// A malloc'd text, freed when it goes out of scope.
class HeapText {
  public:
    explicit HeapText(char *text) : text_(text) {}
    HeapText(const HeapText &) = delete;
    HeapText &operator=(const HeapText &) = delete;
    ~HeapText() { std::free(text_); }
    const char *get() const { return text_; }
    explicit operator bool() const { return text_ != nullptr; }

  private:
    char *text_;
};

// Reads like fgets with a buffer of max + 1 bytes (up to and including the
// first line end, at most `max` bytes) but returns the length, so that NUL
// bytes in the text are carried through a rewrite unchanged. 0 at end of
// file or on a read error.
std::size_t read_piece(FILE *f, char *buf, std::size_t max) {
    std::size_t n = 0;
    while (n < max) {
        const int c = getc(f);
        if (c == EOF)
            break;
        buf[n++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    return n;
}

bool write_all(FILE *f, std::string_view text) {
    return text.empty() || std::fwrite(text.data(), 1, text.size(), f) == text.size();
}

// The piece as it goes into a rewritten list: unchanged, or the new line with
// the line end the old one had.
bool write_rewritten_piece(FILE *out, std::string_view piece, const ListLinePlan &plan) {
    if (plan.change == ListLineChange::keep)
        return write_all(out, piece);
    const bool had_line_end = !piece.empty() && piece.back() == '\n';
    return write_all(out, plan.text) && (!had_line_end || write_all(out, "\n"));
}

// Replaces the list with a copy in which every line that holds the key is
// rebuilt and every other byte is what it was. The copy is made beside the
// list and renamed over it, so a crash leaves either the old list or the new
// one, never a torn one. Returns false (and leaves the list as it was) when
// the directory is not writable or any step fails.
bool rewrite_list(const char *path, FILE *list, std::string_view key, int bitrate) {
    // Rewrite the file a link points to, not the link.
    char target[PATH_MAX];
    if (realpath(path, target) == nullptr)
        return false;
    char temp[PATH_MAX];
    const int n = std::snprintf(temp, sizeof temp, "%s.XXXXXX", target);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof temp)
        return false;

    struct stat st;
    if (fstat(fileno(list), &st) != 0)
        return false;
    const int fd = mkostemp(temp, O_CLOEXEC);
    if (fd < 0)
        return false;
    // Readers of the list keep the access they had.
    (void)fchown(fd, st.st_uid, st.st_gid);
    bool ok = fchmod(fd, st.st_mode & 07777) == 0;

    FILE *out = ok ? fdopen(fd, "w") : nullptr;
    if (out == nullptr) {
        (void)close(fd);
        (void)unlink(temp);
        return false;
    }
    rewind(list);
    char piece[kListLineMax + 1];
    char line[kListLineMax + 1];
    std::size_t got;
    while (ok && (got = read_piece(list, piece, kListLineMax)) > 0) {
        const std::string_view text(piece, got);
        ok =
            write_rewritten_piece(out, text, plan_list_line(text, key, bitrate, line, sizeof line));
    }
    ok = ok && !std::ferror(list) && std::fflush(out) == 0 && fsync(fd) == 0;
    ok = std::fclose(out) == 0 && ok;
    if (!ok || rename(temp, target) != 0) {
        (void)unlink(temp);
        return false;
    }
    // Make the rename itself survive a power cut.
    std::string_view dir(target);
    dir = dir.substr(0, dir.rfind('/') + 1);
    char dir_path[PATH_MAX];
    if (std::snprintf(dir_path, sizeof dir_path, "%.*s", static_cast<int>(dir.size()), dir.data()) <
        static_cast<int>(sizeof dir_path)) {
        const int dir_fd = open(dir_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir_fd >= 0) {
            (void)fsync(dir_fd);
            (void)close(dir_fd);
        }
    }
    return true;
}

// Writes the new text of every matching line over the old one. Only for
// lines whose length stays the same, so nothing else in the file moves.
void rewrite_lines_in_place(FILE *list, std::string_view key, int bitrate) {
    rewind(list);
    char piece[kListLineMax + 1];
    char line[kListLineMax + 1];
    long at = 0;
    std::size_t got;
    while ((got = read_piece(list, piece, kListLineMax)) > 0) {
        const std::string_view text(piece, got);
        const ListLinePlan plan = plan_list_line(text, key, bitrate, line, sizeof line);
        const long next = at + static_cast<long>(got);
        if (plan.change == ListLineChange::in_place) {
            // Switching between reading and writing needs a seek each way.
            if (std::fseek(list, at, SEEK_SET) != 0)
                return;
            (void)write_all(list, plan.text);
            (void)std::fflush(list);
            if (std::fseek(list, next, SEEK_SET) != 0)
                return;
        }
        at = next;
    }
}

// The station's lines in the selected list. A list that cannot be opened for
// update (absent, or on a read-only file system) is skipped silently.
void update_station_list(const char *path, std::string_view key, int bitrate) {
    // Followed if it is a link (the rewrite goes to the file it names), but
    // read only when it is a regular file: a FIFO would hold the main loop.
    File list(open_regular_file(path, true, LinkAtPath::follow));
    if (!list)
        return;
    // Decide first, so that a list is either rewritten in place or replaced
    // whole, and left untouched when neither can be done.
    char piece[kListLineMax + 1];
    char line[kListLineMax + 1];
    bool in_place = false;
    bool resize = false;
    std::size_t got;
    while (!resize && (got = read_piece(list.get(), piece, kListLineMax)) > 0) {
        const std::string_view text(piece, got);
        switch (plan_list_line(text, key, bitrate, line, sizeof line).change) {
        case ListLineChange::keep:
            break;
        case ListLineChange::in_place:
            in_place = true;
            break;
        case ListLineChange::resize:
            resize = true;
            break;
        }
    }
    // A list we could not read to its end is not ours to rewrite.
    if (std::ferror(list.get()))
        return;
    if (resize)
        (void)rewrite_list(path, list.get(), key, bitrate);
    else if (in_place)
        rewrite_lines_in_place(list.get(), key, bitrate);
}

// The entries whose "/tmp/url" line begins with the key. Returns 0 when
// "/tmp/url" cannot be opened, else the result of closing it.
int update_user_entries(const char *path, std::string_view key, int bitrate) {
    File urls(open_regular_file(path, false, LinkAtPath::refuse));
    if (!urls)
        return 0;
    const int kbps = bitrate_to_kbps(bitrate);
    for (int i = 0; i < kUserEntryCount; ++i) {
        char piece[kUrlLineMax + 1];
        // At end of file or on a read error the piece is empty and marks
        // nothing.
        const std::size_t got = read_piece(urls.get(), piece, kUrlLineMax);
        if (!url_line_marks_station(std::string_view(piece, got), key))
            continue;
        std::fprintf(stderr, "we found it at [%d]\n", i);

        char name[16];
        (void)std::snprintf(name, sizeof name, "usr_url%d", i);
        // The store may hand out a pointer into text that the writes below
        // replace: copy the value first, whole, since it is what goes back
        // if the new one is refused.
        const char *stored = nvram_get(name);
        const HeapText value(strdup(stored == nullptr ? "" : stored));
        if (!value)
            continue;

        char entry[kListLineMax + 1];
        const std::optional<std::string_view> rebuilt =
            rebuild_user_entry(value.get(), kbps, key, entry, sizeof entry);
        if (!rebuilt)
            continue;
        (void)nvram_unset(name);
        if (nvram_set(name, entry) != 0) {
            // The entry must not vanish because the new text was refused
            // (or the store could not be written): put the old one back.
            (void)nvram_set(name, value.get());
            continue;
        }
        (void)nvram_set("nvram_kbps", "1");
    }
    return std::fclose(urls.release());
}

} // namespace

int iradio_update_in(const BitrateRecordingFiles &files, int bitrate) {
    // A key file that is not a regular file of its own (a planted link)
    // counts as absent: its text would go into the settings store.
    File key_file(open_regular_file(files.station_key, false, LinkAtPath::refuse));
    if (!key_file)
        return -1;
    char key_text[kStationKeyMax + 1];
    const std::size_t key_length = read_piece(key_file.get(), key_text, kStationKeyMax);
    (void)std::fclose(key_file.release());
    // The key is text: it ends at a NUL byte, if one was read.
    const std::string_view key(key_text, strnlen(key_text, key_length));
    // Without a key every line and entry would match: record nothing.
    if (!station_key_names_station(key))
        return 0;

    const char *table = nvram_get("radio_table");
    update_station_list(radio_table_selects_user_list(table) ? files.user_builtin_list
                                                             : files.builtin_list,
                        key, bitrate);
    return update_user_entries(files.user_urls, key, bitrate);
}

int iradio_update(int bitrate) {
    static constexpr BitrateRecordingFiles files = {kStationKeyFile, kBuiltinListFile,
                                                    kUserBuiltinListFile, kUserUrlFile};
    return iradio_update_in(files, bitrate);
}
