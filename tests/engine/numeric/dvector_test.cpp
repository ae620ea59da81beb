#include "engine/numeric/dvector.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/resource.h>  // POSIX only: resource limits
#endif

#include <cstdio>
#include <cstdlib>

namespace eqsim {
namespace {

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

    v = DVector();
    EXPECT_TRUE(v.empty());
}

TEST(DVector, RangeDescribingNoBlockHoldsNoStorage) {
    EXPECT_TRUE(dvector(5, 2).empty());
    // high = low - 2 is the first range that asks for no element at all, spare one included.
    EXPECT_TRUE(dvector(5, 3).empty());
    EXPECT_TRUE(dvector(-4, -6).empty());
    EXPECT_FALSE(dvector(5, 4).empty());
}

TEST(DVector, TheFatalReportIsThreeFixedLines) {
    EXPECT_EQ(numeric_fatal_error(kVectorStorageFailure),
              "Numerical Recipes run-time error...\n"
              "allocation failure in dvector()\n"
              "...now exiting to system...\n");
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(_WIN32)
// Caps the address space so that the request really fails; the child's status says whether the
// vector came back empty (0) or the request somehow succeeded (3).
void request_beyond_a_capped_address_space() {
    const rlimit cap{rlim_t{1} << 30, rlim_t{1} << 30};
    setrlimit(RLIMIT_AS, &cap);
    const DVector v = dvector(0, 1 << 28);
    std::_Exit(v.empty() ? 0 : 3);
}

// The sanitizer reserves more address space than any such cap and reports exhaustion its own
// way, so this runs only without it.
TEST(DVectorDeathTest, ExhaustedStorageGivesAnEmptyVector) {
    EXPECT_EXIT(request_beyond_a_capped_address_space(), ::testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
}  // namespace eqsim
