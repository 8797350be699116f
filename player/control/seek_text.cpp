#include "control/seek_text.h"

#include <climits>

namespace {

bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

long long atoll_compatible(std::string_view text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && is_c_space(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate the magnitude unsigned so that LLONG_MIN itself is exact.
    const unsigned long long limit =
        negative ? static_cast<unsigned long long>(LLONG_MAX) + 1ULL : LLONG_MAX;
    unsigned long long magnitude = 0;
    bool saturated = false;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
        const unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (saturated || magnitude > (limit - digit) / 10) {
            saturated = true; // keep consuming digits, as strtoll does
            continue;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (saturated) {
        return negative ? LLONG_MIN : LLONG_MAX;
    }
    if (negative) {
        // -(LLONG_MAX + 1) is representable; compute it without overflow.
        return magnitude == 0 ? 0 : -static_cast<long long>(magnitude - 1) - 1;
    }
    return static_cast<long long>(magnitude);
}

std::optional<std::int32_t> seek_seconds_from_text(std::string_view bytes) {
    if (bytes.empty()) {
        return std::nullopt;
    }
    const long long value = atoll_compatible(bytes.substr(0, kSeekFileReadMax));
    // Two's-complement truncation to the low 32 bits, kept signed.
    const auto low = static_cast<std::uint32_t>(static_cast<unsigned long long>(value));
    return static_cast<std::int32_t>(low);
}
