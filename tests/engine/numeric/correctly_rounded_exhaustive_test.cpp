// 10^8 arguments of cr_exp and cr_log against MPFR, a quarter in each of four streams: the
// ranges the log-linear fit uses and random bit patterns over the whole double range.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

#include "engine/numeric/correctly_rounded.h"
#include "support/mpfr_reference.h"

namespace eqsim {
namespace {

using testing::ArgumentStream;
using testing::Function;
using testing::MpfrReference;
using testing::same_double;

constexpr std::int64_t kArgumentsPerStream = 25'000'000;

template <typename Draw>
std::int64_t count_mismatches(Function f, std::uint64_t seed, Draw draw,
                              std::int64_t count = kArgumentsPerStream) {
    MpfrReference mpfr;
    ArgumentStream stream(seed);
    std::int64_t mismatches = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        const double x = draw(stream);
        const double got = f == Function::exp ? cr_exp(x) : cr_log(x);
        if (!same_double(got, mpfr.rounded(f, x))) {
            if (++mismatches <= 10) {
                std::printf("mismatch at %a: %a\n", x, got);
            }
        }
    }
    return mismatches;
}

TEST(CorrectlyRoundedExhaustive, ExpOverTheFitsRange) {
    EXPECT_EQ(count_mismatches(Function::exp, 1,
                               [](ArgumentStream& s) { return s.uniform(-700.0, 30.0); }),
              0);
}

TEST(CorrectlyRoundedExhaustive, ExpOfRandomBitPatterns) {
    EXPECT_EQ(count_mismatches(Function::exp, 2, [](ArgumentStream& s) { return s.any(); }), 0);
}

// Beyond the 10^8: results from the least normal down to zero, all from the accurate path.
TEST(CorrectlyRoundedExhaustive, ExpWithSubnormalResults) {
    EXPECT_EQ(count_mismatches(
                  Function::exp, 5, [](ArgumentStream& s) { return s.uniform(-745.2, -708.3); },
                  2'000'000),
              0);
}

TEST(CorrectlyRoundedExhaustive, LogOverTheFitsRange) {
    // Half uniform on (0, 1e7], half near 1 where the fit's ratios y/m fall.
    EXPECT_EQ(count_mismatches(Function::log, 3,
                               [](ArgumentStream& s) {
                                   return (s.bits() & 1) != 0 ? s.uniform(0x1p-1074, 1e7)
                                                              : s.uniform(0.5, 2.0);
                               }),
              0);
}

TEST(CorrectlyRoundedExhaustive, LogOfRandomBitPatterns) {
    EXPECT_EQ(count_mismatches(Function::log, 4, [](ArgumentStream& s) { return s.any(); }), 0);
}

}  // namespace
}  // namespace eqsim
