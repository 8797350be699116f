// Small text helpers: whole-file replacement and trailing blank removal.
#include "atomic_file.h"
#include "export.h"
#include "shared.h"

#include <errno.h>
#include <string.h>

PLATFORM_EXPORT int writefile(const char *path, const char *text) {
    if (path == nullptr || text == nullptr)
        return -EINVAL;
    // Status files are read by other programs of the router while they
    // change: readers must see the old text or the new one, never a part.
    return platform::replace_file(path, text, strlen(text), 0644, false);
}

PLATFORM_EXPORT char *trim_r(char *text) {
    if (text == nullptr)
        return nullptr;
    size_t len = strlen(text);
    // The C locale's white space, tested without isspace() so that bytes
    // above 127 (UTF-8 in an SSID) are never taken for blanks.
    while (len > 0) {
        char c = text[len - 1];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\v' && c != '\f')
            break;
        text[--len] = '\0';
    }
    return text;
}
