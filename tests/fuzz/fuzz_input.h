// Carves one fuzzer input into the pieces a target needs: small numbers for
// choices and split points, and byte fields ended by a separator, so that
// every field can hold any byte but the separator and the corpus stays
// readable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class FuzzInput {
  public:
    FuzzInput(const std::uint8_t *data, std::size_t size)
        : rest_(reinterpret_cast<const char *>(data), size) {}

    // One byte as a number; 0 once the input is used up.
    unsigned byte() {
        if (rest_.empty())
            return 0;
        const unsigned b = static_cast<unsigned char>(rest_.front());
        rest_.remove_prefix(1);
        return b;
    }
    // Two bytes, little end first.
    unsigned word() {
        const unsigned lo = byte();
        return lo | byte() << 8;
    }
    // Bytes up to (not including) the next `separator`, which is consumed;
    // the rest of the input when there is none.
    std::string_view field(char separator) {
        const std::size_t at = rest_.find(separator);
        const std::string_view f = rest_.substr(0, at);
        rest_.remove_prefix(at == std::string_view::npos ? rest_.size() : at + 1);
        return f;
    }
    std::string_view rest() const { return rest_; }

  private:
    std::string_view rest_;
};

// A scratch directory in /dev/shm for targets that work on real files,
// removed with everything in it when the fuzzer exits normally.
std::string scratch_directory(const char *name);

// Stops the run with a message when a property fails: libFuzzer keeps the
// input that got here as a crash.
[[noreturn]] void property_failed(const char *what);
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond))                                                                               \
            property_failed(#cond);                                                                \
    } while (0)
