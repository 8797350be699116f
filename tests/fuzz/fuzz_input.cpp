#include "fuzz_input.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <unistd.h>

namespace {

std::string scratch;

void remove_scratch() {
    DIR *dir = opendir(scratch.c_str());
    if (dir == nullptr)
        return;
    while (const dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            (void)unlink((scratch + "/" + name).c_str());
    }
    closedir(dir);
    (void)rmdir(scratch.c_str());
}

} // namespace

std::string scratch_directory(const char *name) {
    std::string tmpl = std::string("/dev/shm/") + name + ".XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr)
        property_failed("a scratch directory in /dev/shm");
    scratch = tmpl;
    std::atexit(remove_scratch);
    return scratch;
}

void property_failed(const char *what) {
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
}
