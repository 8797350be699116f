// nvram_get / nvram_set / nvram_unset: the store as the programs see it.
//
// Every read loads the store afresh (another process may have changed it)
// and hands out the kept copy of the value it finds (nvram_values.h), which
// stays valid until this process's own next nvram_set or nvram_unset frees
// them all. The loaded store itself is dropped at once, so a process that
// only reads grows with the distinct values it reads, not with the changes
// others make.
//
// The programs call these from one thread, but a lock costs nothing next to
// loading the store and keeps the kept values whole if a caller ever uses
// several threads; a write by any thread still ends the values of all.
#include "export.h"
#include "nvram_store.h"
#include "nvram_values.h"
#include "shared.h"

#include <errno.h>
#include <pthread.h>
#include <stdlib.h>

namespace {

pthread_mutex_t values_lock = PTHREAD_MUTEX_INITIALIZER;

class Locked {
  public:
    Locked() { (void)pthread_mutex_lock(&values_lock); }
    ~Locked() { (void)pthread_mutex_unlock(&values_lock); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;
};

int write_store(const char *key, const char *value) {
    if (key == nullptr)
        return -EINVAL;
    std::string_view value_view;
    if (value != nullptr)
        value_view = value;
    int rc = nvram::edit_store(nvram::store_path(), key, value != nullptr ? &value_view : nullptr,
                               nullptr);
    if (rc != 0)
        return rc;
    // The caller's write ends the life of every value handed out so far
    // (`value` itself may have been one of them: it is no longer used).
    Locked locked;
    nvram::release_values();
    return 0;
}

} // namespace

PLATFORM_EXPORT char *nvram_get(const char *key) {
    if (key == nullptr || nvram::check_key(key) != 0) {
        errno = EINVAL;
        return nullptr;
    }
    char *text = nullptr;
    size_t len = 0;
    int rc = nvram::load_store(nvram::store_path(), &text, &len, nullptr);
    if (rc != 0) {
        // A damaged store reads as EBADMSG rather than as "all unset".
        errno = -rc;
        return nullptr;
    }
    std::string_view found;
    char *value = nullptr;
    int error = ENOENT;
    if (nvram::find_value(std::string_view(text, len), key, found)) {
        Locked locked;
        value = nvram::keep_value(found);
        error = ENOMEM;
    }
    free(text);
    if (value == nullptr)
        errno = error;
    return value;
}

PLATFORM_EXPORT int nvram_set(const char *key, const char *value) {
    if (value == nullptr)
        return -EINVAL;
    return write_store(key, value);
}

PLATFORM_EXPORT int nvram_unset(const char *key) {
    return write_store(key, nullptr);
}
