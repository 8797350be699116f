// The seek request: "/tmp/seek.txt" holds a decimal number of seconds,
// usually followed by CR LF, written by the controller before SIGUSR2.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// One read of at most this many bytes; anything after them is not looked at.
inline constexpr std::size_t kSeekFileReadMax = 100;

// Decimal conversion exactly as the C library's atoll does it in the "C"
// locale, over bytes that need not be terminated: leading white space is
// skipped, one optional sign, then digits up to the first other byte (a NUL
// ends the text as it would a C string). No digits gives 0. A value beyond
// the 64-bit range saturates, as the strtoll behind atoll does on glibc and
// uClibc. The controller's numbers have always been read this way, so the
// odd cases ("12abc" is 12, " +7" is 7) must stay as they are.
long long atoll_compatible(std::string_view text);

// Seconds to seek to, from the bytes one read of the seek file gave. Only
// the first kSeekFileReadMax bytes count. The number is cut to its low 32
// bits taken as a signed value (so 2^32 + 90 means 90). No bytes at all is
// no request (nullopt); bytes without digits are a request for 0.
// Trailing CR and LF need no stripping: like any other non-digit they end
// the number.
std::optional<std::int32_t> seek_seconds_from_text(std::string_view bytes);
