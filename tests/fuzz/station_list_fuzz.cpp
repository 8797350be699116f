// The bitrate recording end to end over real files and the real settings
// store: a station key, the station lists, "/tmp/url" and the user station
// entries, all from the input. Checks what the recording may change:
// nothing at all without a key, and otherwise only the station's own list
// lines and entries, each either as it was or rebuilt whole.
#include "fuzz_input.h"
#include "bitrate/iradio_update.h"
#include "nvram_store.h"
#include "shared.h"
#include "bitrate/station_list.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

std::string dir;
std::string path(const char *name) {
    return dir + "/" + name;
}

void put(const std::string &file, std::string_view text) {
    FILE *f = std::fopen(file.c_str(), "w");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(std::fwrite(text.data(), 1, text.size(), f) == text.size());
    FUZZ_CHECK(std::fclose(f) == 0);
}

std::string get(const std::string &file) {
    std::string text;
    FILE *f = std::fopen(file.c_str(), "r");
    FUZZ_CHECK(f != nullptr);
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    std::fclose(f);
    return text;
}

// A piece as the program reads one: up to and including a line end, at most
// `max` bytes.
std::string_view take_piece(std::string_view &rest, std::size_t max) {
    std::size_t n = std::min(rest.find('\n'), rest.size());
    n = std::min(n == rest.size() ? n : n + 1, max);
    const std::string_view piece = rest.substr(0, n);
    rest.remove_prefix(n);
    return piece;
}

// The station's rebuilt text: everything before the third comma, then the
// bitrate and the key.
std::string rebuilt(std::string_view old, const char *format, int kbps, std::string_view key) {
    const auto comma = find_third_comma(old);
    if (!comma)
        return "\x01no rebuild";
    char tail[256];
    std::snprintf(tail, sizeof tail, format, kbps);
    return std::string(old.substr(0, *comma)) + tail + std::string(key) + "]";
}

// Every piece of `before` is in `after`, in order: unchanged, or (when it
// holds the key) rebuilt with the line end it had.
void check_list(std::string_view before, std::string_view after, std::string_view key, int kbps,
                bool may_change) {
    while (!before.empty()) {
        const std::string_view piece = take_piece(before, kListLineMax);
        // The rebuilt form first: a line whose third comma ends it keeps
        // all of itself as the head, so the old piece is a prefix of it.
        if (may_change && piece.find(key) != std::string_view::npos) {
            std::string_view line = piece;
            const bool line_end = !line.empty() && line.back() == '\n';
            if (line_end)
                line.remove_suffix(1);
            const std::string expected =
                rebuilt(line, ",\"%3dkbps\",", kbps, key) + (line_end ? "\n" : "");
            if (after.substr(0, expected.size()) == expected) {
                after.remove_prefix(expected.size());
                continue;
            }
        }
        FUZZ_CHECK(after.substr(0, piece.size()) == piece);
        after.remove_prefix(piece.size());
    }
    FUZZ_CHECK(after.empty());
}

// Keeps the program's "we found it" lines out of the fuzzer's log.
class QuietStderr {
  public:
    QuietStderr() : saved_(dup(2)) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        close(null);
    }
    ~QuietStderr() {
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
    }

  private:
    int saved_;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    dir = scratch_directory("station_list_fuzz");
    setenv("NVRAM_FILE", path("nvram.txt").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzInput in(data, size);
    const int bitrate = static_cast<int>(in.word() * 397u) - 65536;
    const unsigned flags = in.byte();
    const unsigned fillers = in.byte() % 24;
    const std::string_view key_file = in.field('\x01');
    const std::string_view list = in.field('\x01');
    const std::string_view urls = in.field('\x01');

    // The store: the list choice, filler entries that bring it near its
    // size limit (so that a longer entry may be refused), the user entries.
    (void)unlink(path("nvram.txt").c_str());
    std::string store = (flags & 1) ? "radio_table=1\n" : "";
    for (unsigned i = 0; i < fillers; ++i)
        store += "filler" + std::to_string(i) + "=" + std::string(4000, 'f') + "\n";
    std::string entries[kUserEntryCount];
    for (int i = 0; i < kUserEntryCount && !in.rest().empty(); ++i) {
        const std::string_view value = in.field('\x01');
        if (nvram::check_value(value) != 0 || value.empty())
            continue;
        entries[i] = value;
        store += "usr_url" + std::to_string(i) + "=" + entries[i] + "\n";
    }
    if (store.size() > nvram::kMaxStoreBytes)
        return 0;
    put(path("nvram.txt"), store);
    put(path("iradio"), key_file);
    put(path("builtin.list"), list);
    put(path("user_builtin.list"), list);
    put(path("url"), urls);

    const std::string files[] = {path("iradio"), path("builtin.list"), path("user_builtin.list"),
                                 path("url")};
    const BitrateRecordingFiles where = {files[0].c_str(), files[1].c_str(), files[2].c_str(),
                                         files[3].c_str()};
    {
        QuietStderr quiet;
        (void)iradio_update_in(where, bitrate);
    }

    // The key as read: one line at most, text up to a NUL, its line end kept.
    std::string_view key_rest = key_file;
    std::string_view key = take_piece(key_rest, kStationKeyMax);
    key = key.substr(0, std::min(key.find('\0'), key.size()));
    std::string_view bare = key;
    if (!bare.empty() && bare.back() == '\n')
        bare.remove_suffix(1);
    if (!bare.empty() && bare.back() == '\r')
        bare.remove_suffix(1);
    const bool may_change = !bare.empty() && bitrate != 0;
    const int kbps = bitrate_to_kbps(bitrate);

    const bool user_list = flags & 1;
    check_list(list, get(path(user_list ? "user_builtin.list" : "builtin.list")), key, kbps,
               may_change);
    FUZZ_CHECK(get(path(user_list ? "builtin.list" : "user_builtin.list")) == list);

    std::string_view url_rest = urls;
    bool any_changed = false;
    for (int i = 0; i < kUserEntryCount; ++i) {
        const std::string_view line = take_piece(url_rest, kUrlLineMax);
        const std::string name = "usr_url" + std::to_string(i);
        const char *now = nvram_get(name.c_str());
        const std::string value = now != nullptr ? now : "";
        if (value == entries[i])
            continue;
        // Only a marked entry changes, and only to its whole rebuilt text.
        FUZZ_CHECK(may_change && !key.empty() && line.substr(0, key.size()) == key);
        FUZZ_CHECK(value == rebuilt(entries[i], ",\"%dkbps\",", kbps, key));
        any_changed = true;
    }
    const char *flag = nvram_get("nvram_kbps");
    if (any_changed)
        FUZZ_CHECK(flag != nullptr && std::string(flag) == "1");
    if (!may_change)
        FUZZ_CHECK(flag == nullptr);
    for (unsigned i = 0; i < fillers; ++i) {
        const char *filler = nvram_get(("filler" + std::to_string(i)).c_str());
        FUZZ_CHECK(filler != nullptr && std::strlen(filler) == 4000);
    }
    return 0;
}
