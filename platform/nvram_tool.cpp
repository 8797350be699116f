// nvram: inspect and edit the settings store from a shell.
//
//   nvram get KEY          prints the value; exit 1 (silent) when unset
//   nvram set KEY=VALUE    the key ends at the first "=", the value may hold more
//   nvram unset KEY
//   nvram show             prints every KEY=VALUE line in store order
//
// Exit status: 0 done, 1 key not set (get), 2 anything refused or failed,
// with a message on standard error.
#include "nvram_store.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUnset = 1;
constexpr int kExitFailed = 2;

int usage() {
    fputs("usage: nvram get KEY | set KEY=VALUE | unset KEY | show\n", stderr);
    return kExitFailed;
}

int report(int rc, const char *path, const nvram::StoreCheck &check) {
    switch (rc) {
    case -EBADMSG:
        if (check.line != 0)
            fprintf(stderr, "nvram: store %s is damaged at line %zu: %s; left unchanged\n", path,
                    check.line, nvram::damage_text(check.damage));
        else
            fprintf(stderr, "nvram: store %s is damaged: %s; left unchanged\n", path,
                    nvram::damage_text(check.damage));
        break;
    case -EINVAL:
        fputs("nvram: refused: a key is 1 to 64 bytes without '=' or line ends, "
              "a value has no line ends\n",
              stderr);
        break;
    case -ENAMETOOLONG:
        fprintf(stderr, "nvram: refused: key longer than %zu bytes\n", nvram::kMaxKeyBytes);
        break;
    case -E2BIG:
        fprintf(stderr, "nvram: refused: value longer than %zu bytes\n", nvram::kMaxValueBytes);
        break;
    case -ENOSPC:
        fprintf(stderr, "nvram: refused: store %s would exceed %zu bytes or %zu entries\n", path,
                nvram::kMaxStoreBytes, nvram::kMaxEntries);
        break;
    default:
        fprintf(stderr, "nvram: store %s: %s\n", path, strerror(-rc));
        break;
    }
    return kExitFailed;
}

int finish_output() {
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "nvram: cannot write output: %s\n", strerror(errno));
        return kExitFailed;
    }
    return kExitOk;
}

int cmd_get(const char *path, const char *key) {
    int rc = nvram::check_key(key);
    nvram::StoreCheck check;
    if (rc != 0)
        return report(rc, path, check);
    char *text = nullptr;
    size_t len = 0;
    rc = nvram::load_store(path, &text, &len, &check);
    if (rc != 0)
        return report(rc, path, check);
    std::string_view value;
    bool found = nvram::find_value(std::string_view(text, len), key, value);
    if (found) {
        fwrite(value.data(), 1, value.size(), stdout);
        fputc('\n', stdout);
    }
    free(text);
    int out = finish_output();
    return out != kExitOk ? out : found ? kExitOk : kExitUnset;
}

int cmd_show(const char *path) {
    nvram::StoreCheck check;
    char *text = nullptr;
    size_t len = 0;
    int rc = nvram::load_store(path, &text, &len, &check);
    if (rc != 0)
        return report(rc, path, check);
    std::string_view rest(text, len);
    nvram::Entry e;
    while (nvram::next_entry(rest, e)) {
        fwrite(e.key.data(), 1, e.key.size(), stdout);
        fputc('=', stdout);
        fwrite(e.value.data(), 1, e.value.size(), stdout);
        fputc('\n', stdout);
    }
    free(text);
    return finish_output();
}

int cmd_edit(const char *path, std::string_view key, const std::string_view *value) {
    nvram::StoreCheck check;
    int rc = nvram::edit_store(path, key, value, &check);
    return rc == 0 ? kExitOk : report(rc, path, check);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2)
        return usage();
    const char *path = nvram::store_path();
    const char *cmd = argv[1];
    if (strcmp(cmd, "show") == 0 && argc == 2)
        return cmd_show(path);
    if (strcmp(cmd, "get") == 0 && argc == 3)
        return cmd_get(path, argv[2]);
    if (strcmp(cmd, "unset") == 0 && argc == 3)
        return cmd_edit(path, argv[2], nullptr);
    if (strcmp(cmd, "set") == 0 && argc == 3) {
        const char *eq = strchr(argv[2], '=');
        if (eq == nullptr)
            return usage();
        std::string_view key(argv[2], static_cast<size_t>(eq - argv[2]));
        std::string_view value(eq + 1);
        return cmd_edit(path, key, &value);
    }
    return usage();
}
