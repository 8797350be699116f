// "/tmp/seek.txt" as one read of it gives it, checked against the C
// library's own atoll, which the controller's numbers were always read with.
#include "fuzz_input.h"
#include "control/seek_text.h"

#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const std::string_view read = bytes.substr(0, kSeekFileReadMax);
    const std::optional<std::int32_t> seconds = seek_seconds_from_text(read);
    if (read.empty()) {
        FUZZ_CHECK(!seconds);
        return 0;
    }
    const std::string terminated(read);
    const long long expected = std::atoll(terminated.c_str());
    FUZZ_CHECK(atoll_compatible(read) == expected);
    FUZZ_CHECK(seconds && *seconds == static_cast<std::int32_t>(static_cast<std::uint32_t>(
                                          static_cast<unsigned long long>(expected))));
    return 0;
}
