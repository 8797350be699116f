// The stand-ins for libstdc++'s throwing helpers must be the ones a shipped
// program reaches: if their names stopped matching the library's, the
// library's own helper would throw instead and bring the exception runtime
// back into every binary (the check beside this test sees that too).
#include <gtest/gtest.h>

#include <csignal>
#include <string_view>

namespace {

// Kept out of the compiler's sight so the failing call is not folded away.
volatile std::size_t far_position = 5;

TEST(AbortOnThrow, BrokenPreconditionAbortsWithTheCheckNamed) {
    const std::string_view text = "abc";
    EXPECT_EXIT((void)text.substr(far_position), testing::KilledBySignal(SIGABRT),
                "fatal: out_of_range: basic_string_view::substr: __pos \\(which is 5\\) > "
                "__size \\(which is 3\\)");
    EXPECT_EXIT((void)text.at(far_position), testing::KilledBySignal(SIGABRT),
                "fatal: out_of_range: basic_string_view::at");
}

} // namespace
