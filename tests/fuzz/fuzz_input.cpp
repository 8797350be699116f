#include "fuzz_input.h"

#include <cstdio>
#include <cstdlib>

void property_failed(const char *what) {
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
}
