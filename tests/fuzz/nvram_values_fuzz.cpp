// The store as a program sees it while other processes change the file:
// every value nvram_get handed out must read the same until the program's
// own next write, however many reads and outside changes come between.
#include "fuzz_input.h"
#include "nvram_store.h"
#include "shared.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct HandedOut {
    const char *value;
    std::string copy;
};

std::string store;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    store = scratch_directory("nvram_values_fuzz") + "/nvram.txt";
    setenv("NVRAM_FILE", store.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzInput in(data, size);
    (void)unlink(store.c_str());
    // Start from this process's own write, so nothing handed out by the
    // previous input is still promised.
    FUZZ_CHECK(nvram_set("start", "1") == 0);
    std::vector<HandedOut> held;
    for (int step = 0; step < 64 && !in.rest().empty(); ++step) {
        const unsigned op = in.byte();
        const std::string key = "k" + std::to_string(op >> 2 & 7);
        const std::string value(in.field('\x01'));
        switch (op & 3) {
        case 0: { // another process changes the store
            const std::string_view v = value;
            (void)nvram::edit_store(store.c_str(), key, &v, nullptr);
            break;
        }
        case 1: { // a read, whose value the caller keeps
            const char *got = nvram_get(key.c_str());
            if (got != nullptr)
                held.push_back({got, got});
            break;
        }
        case 2: // the program's own write ends every promise
            if (nvram_set(key.c_str(), value.c_str()) == 0)
                held.clear();
            break;
        case 3:
            if (nvram_unset(key.c_str()) == 0)
                held.clear();
            break;
        }
        for (const HandedOut &h : held)
            FUZZ_CHECK(h.copy == h.value);
    }
    return 0;
}
