#include "numeric/dvector.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

namespace eqsim {
namespace {

constexpr const char* kFatalReport =
    "Numerical Recipes run-time error\\.\\.\\.\n"
    "allocation failure in dvector\\(\\)\n"
    "\\.\\.\\.now exiting to system\\.\\.\\.\n";

TEST(DVector, EveryIndexOfTheRangeIsUsableAndDistinct) {
    const int n = 6;
    DVector v = dvector(-1, n + 1);
    for (int i = -1; i <= n + 1; ++i) {
        v[i] = 10.0 * i;
    }
    for (int i = -1; i <= n + 1; ++i) {
        EXPECT_EQ(v[i], 10.0 * i) << i;
    }
    EXPECT_EQ(v.low(), -1);
    EXPECT_EQ(v.high(), n + 1);

    DVector one = dvector(7, 7);
    one[7] = 2.5;
    EXPECT_EQ(one[7], 2.5);

    release_dvector(v, -1, n + 1);
    EXPECT_TRUE(v.empty());
}

TEST(DVectorDeathTest, RangeDescribingNoBlockEndsWithTheFixedReport) {
    EXPECT_EXIT(dvector(5, 2), ::testing::ExitedWithCode(1), kFatalReport);
    // high = low - 2 is the first range that asks for no element at all, spare one included.
    EXPECT_EXIT(dvector(5, 3), ::testing::ExitedWithCode(1), kFatalReport);
    EXPECT_EXIT(dvector(-4, -6), ::testing::ExitedWithCode(1), kFatalReport);
}

#if !defined(__SANITIZE_ADDRESS__)
void report_exit_handler() {
    std::fputs("exit handler ran\n", stderr);
}

// Caps the address space so that the request really fails, with an exit handler registered to
// show that the process ends normally.
void request_beyond_a_capped_address_space() {
    std::atexit(report_exit_handler);
    const rlimit cap{rlim_t{1} << 30, rlim_t{1} << 30};
    setrlimit(RLIMIT_AS, &cap);
    dvector(0, 1 << 28);
}

// The sanitizer reserves more address space than any such cap and reports exhaustion its own
// way, so this runs only without it.
TEST(DVectorDeathTest, ExhaustedStorageEndsNormallyWithTheFixedReport) {
    EXPECT_EXIT(request_beyond_a_capped_address_space(), ::testing::ExitedWithCode(1),
                std::string(kFatalReport) + "exit handler ran\n");
}
#endif

}  // namespace
}  // namespace eqsim
