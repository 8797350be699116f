#include "nvram_store.h"

#include "atomic_file.h"
#include "unique_fd.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nvram {

namespace {

// Settings may hold secrets (a Wi-Fi passphrase): a new store is private.
constexpr mode_t kStoreMode = 0600;

// Owner of one malloc'd block.
class HeapText {
  public:
    explicit HeapText(size_t bytes) : p_(static_cast<char *>(malloc(bytes))) {}
    explicit HeapText(char *adopt) : p_(adopt) {}
    ~HeapText() { free(p_); }
    HeapText(const HeapText &) = delete;
    HeapText &operator=(const HeapText &) = delete;
    char *get() const { return p_; }
    char *release() {
        char *p = p_;
        p_ = nullptr;
        return p;
    }

  private:
    char *p_;
};

int check_loaded(const char *text, size_t len, StoreCheck *check) {
    HeapText scratch(scratch_spans(len) * sizeof(KeySpan));
    if (scratch.get() == nullptr)
        return -ENOMEM;
    StoreCheck result =
        check_store(std::string_view(text, len), reinterpret_cast<KeySpan *>(scratch.get()));
    if (check != nullptr)
        *check = result;
    return result.damage == Damage::none ? 0 : -EBADMSG;
}

// The store's directory may not exist yet on a fresh system (the default
// lives in /var/lib, which a router may build at boot). Create the last
// level only: a wrong NVRAM_FILE should fail, not grow a directory tree.
int make_parent_dir(const char *path) {
    char dir[PATH_MAX];
    const char *slash = strrchr(path, '/');
    if (slash == nullptr || slash == path)
        return -ENOENT;
    size_t len = static_cast<size_t>(slash - path);
    if (len >= sizeof dir)
        return -ENAMETOOLONG;
    memcpy(dir, path, len);
    dir[len] = '\0';
    if (::mkdir(dir, 0755) != 0 && errno != EEXIST)
        return -errno;
    return 0;
}

int lock_writers(const char *path, platform::UniqueFd &lock) {
    char lock_path[PATH_MAX];
    int n = snprintf(lock_path, sizeof lock_path, "%s.lock", path);
    if (n < 0 || static_cast<size_t>(n) >= sizeof lock_path)
        return -ENAMETOOLONG;
    // O_CLOEXEC: a child that execs must not keep the writers' lock alive.
    lock.reset(::open(lock_path, O_RDWR | O_CREAT | O_CLOEXEC, kStoreMode));
    if (!lock.valid() && errno == ENOENT) {
        int rc = make_parent_dir(path);
        if (rc != 0)
            return rc;
        lock.reset(::open(lock_path, O_RDWR | O_CREAT | O_CLOEXEC, kStoreMode));
    }
    if (!lock.valid())
        return -errno;
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            return -errno;
    }
    return 0;
}

bool is_temporary_of(const char *name, const char *base, size_t base_len) {
    const size_t infix_len = sizeof platform::kTemporaryInfix - 1;
    if (strncmp(name, base, base_len) != 0 ||
        strncmp(name + base_len, platform::kTemporaryInfix, infix_len) != 0)
        return false;
    const char *suffix = name + base_len + infix_len;
    size_t n = 0;
    for (; suffix[n] != '\0'; ++n) {
        char c = suffix[n];
        bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum || n == 6)
            return false;
    }
    return n == 6;
}

// A writer killed between creating its temporary and renaming it leaves the
// temporary behind. Under the writers' lock no other writer is half way, so
// every temporary of this store is such a leftover: remove them, or they
// would pile up on a small flash over the router's life.
void remove_stale_temporaries(const char *path) {
    char dir[PATH_MAX];
    const char *slash = strrchr(path, '/');
    const char *base = slash != nullptr ? slash + 1 : path;
    size_t dir_len = slash == nullptr ? 0 : slash == path ? 1 : static_cast<size_t>(slash - path);
    if (dir_len >= sizeof dir)
        return;
    if (dir_len == 0) {
        dir[0] = '.';
        dir[1] = '\0';
    } else {
        memcpy(dir, path, dir_len);
        dir[dir_len] = '\0';
    }
    DIR *d = ::opendir(dir);
    if (d == nullptr)
        return;
    size_t base_len = strlen(base);
    while (struct dirent *e = ::readdir(d)) {
        if (!is_temporary_of(e->d_name, base, base_len))
            continue;
        char stale[PATH_MAX];
        int n = snprintf(stale, sizeof stale, "%s/%s", dir, e->d_name);
        if (n > 0 && static_cast<size_t>(n) < sizeof stale)
            (void)::unlink(stale);
    }
    (void)::closedir(d);
}

} // namespace

const char *store_path() {
    const char *env = getenv("NVRAM_FILE");
    return env != nullptr && env[0] != '\0' ? env : kDefaultStorePath;
}

int load_store(const char *path, char **text, size_t *len, StoreCheck *check) {
    if (check != nullptr)
        *check = StoreCheck{};
    platform::UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
    size_t size = 0;
    if (!fd.valid()) {
        if (errno != ENOENT)
            return -errno;
    } else {
        struct stat st;
        if (::fstat(fd.get(), &st) != 0)
            return -errno;
        if (!S_ISREG(st.st_mode))
            return -EINVAL;
        if (st.st_size > static_cast<off_t>(kMaxStoreBytes)) {
            if (check != nullptr)
                check->damage = Damage::too_large;
            return -EBADMSG;
        }
        size = static_cast<size_t>(st.st_size);
    }

    HeapText buf(size + 1);
    if (buf.get() == nullptr)
        return -ENOMEM;
    size_t got = 0;
    if (fd.valid()) {
        int rc = platform::read_up_to(fd.get(), buf.get(), size, &got);
        if (rc != 0)
            return rc;
    }
    buf.get()[got] = '\0';
    int rc = check_loaded(buf.get(), got, check);
    if (rc != 0)
        return rc;
    *text = buf.release();
    *len = got;
    return 0;
}

int edit_store(const char *path, std::string_view key, const std::string_view *value,
               StoreCheck *check) {
    if (check != nullptr)
        *check = StoreCheck{};
    int rc = check_key(key);
    if (rc == 0 && value != nullptr)
        rc = check_value(*value);
    if (rc != 0)
        return rc;

    platform::UniqueFd lock;
    rc = lock_writers(path, lock);
    if (rc != 0)
        return rc;
    remove_stale_temporaries(path);

    char *old_raw = nullptr;
    size_t old_len = 0;
    rc = load_store(path, &old_raw, &old_len, check);
    if (rc != 0)
        return rc;
    HeapText old_owner(old_raw);
    std::string_view old(old_raw, old_len);

    size_t cap = edit_bound(old, key, value != nullptr ? *value : std::string_view());
    HeapText out(cap + 1);
    if (out.get() == nullptr)
        return -ENOMEM;
    long n = apply_edit(old, key, value, out.get(), cap);
    if (n < 0)
        return static_cast<int>(n);
    size_t out_len = static_cast<size_t>(n);
    out.get()[out_len] = '\0';

    // Setting the value a key already has, or removing an absent key,
    // changes nothing: leave the file (and the flash under it) alone.
    bool unchanged = out_len == old_len && memcmp(out.get(), old_raw, old_len) == 0;
    if (unchanged)
        return 0;
    return platform::replace_file(path, out.get(), out_len, kStoreMode, true);
}

} // namespace nvram
