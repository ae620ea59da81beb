#include "engine/numeric/correctly_rounded.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "support/mpfr_reference.h"

namespace eqsim {
namespace {

using testing::ArgumentStream;
using testing::Function;
using testing::MpfrReference;
using testing::same_double;
namespace detail = correctly_rounded_detail;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kLeastSubnormal = 0x1p-1074;

struct Case {
    double x;
    double expected;
};

TEST(CorrectlyRounded, SpecialValues) {
    const Case exp_cases[] = {
        {0.0, 1.0},    {-0.0, 1.0},   {kInf, kInf},     {-kInf, 0.0},
        {kNaN, kNaN},  {-kNaN, kNaN}, {1e300, kInf},    {-1e300, 0.0},
        {710.0, kInf}, {-746.0, 0.0}, {0x1p-1074, 1.0}, {-0x1p-1074, 1.0},
    };
    for (const Case& c : exp_cases) {
        EXPECT_TRUE(same_double(cr_exp(c.x), c.expected)) << "exp(" << c.x << ") = " << cr_exp(c.x);
    }
    const Case log_cases[] = {
        {0.0, -kInf},
        {-0.0, -kInf},
        {kInf, kInf},
        {-kInf, kNaN},
        {kNaN, kNaN},
        {-1.0, kNaN},
        {-kLeastSubnormal, kNaN},
        {1.0, 0.0},
    };
    for (const Case& c : log_cases) {
        EXPECT_TRUE(same_double(cr_log(c.x), c.expected)) << "log(" << c.x << ") = " << cr_log(c.x);
    }
    EXPECT_EQ(cr_log(2.0), 0x1.62e42fefa39efp-1);
    EXPECT_EQ(cr_exp(1.0), 0x1.5bf0a8b145769p+1);
}

// The published hardest-to-round arguments (Lefevre and Muller) and the edges of the ranges:
// each expected value is checked against MPFR too, so a wrong transcription shows.
TEST(CorrectlyRounded, HardestToRoundAndBoundaryArguments) {
    const Case exp_cases[] = {
        // 7.5417527749959590085206221e-10: round bit 1, then 57 zeros.
        {0x1.9e9cbbfd6080bp-31, 0x1.000000033d398p+0},
        // Around the shortcut e^x = 1: exp(-2^-54) is 2^-109 above a midpoint.
        {-0x1p-54, 1.0},
        {-0x1.0000000000001p-54, 0x1.fffffffffffffp-1},
        {0x1.fffffffffffffp-54, 1.0},
        // Largest finite result and the first overflow.
        {0x1.62e42fefa39efp+9, 0x1.fffffffffff2ap+1023},
        {0x1.62e42fefa39f0p+9, kInf},
        // Normal to subnormal, and the last argument that does not underflow to zero.
        {-0x1.6232bdd7abcd2p+9, 0x1.000000000007cp-1022},
        {-0x1.6232bdd7abcd3p+9, 0x0.ffffffffffe7cp-1022},
        {-0x1.74910d52d3051p+9, kLeastSubnormal},
        {-0x1.74910d52d3052p+9, 0.0},
    };
    const Case log_cases[] = {
        // 1.0110001010101000100001100001001101100010100110110110 * 2^678: round bit 0, 64 zeros.
        {0x1.62a88613629b6p+678, 0x1.d6479eba7c971p+8},
        {kLeastSubnormal, -0x1.74385446d71c3p+9},
        {std::numeric_limits<double>::max(), 0x1.62e42fefa39efp+9},
        {0x1.0000000000001p+0, 0x1.fffffffffffffp-53},
        {0x1.fffffffffffffp-1, -0x1p-53},
    };
    MpfrReference mpfr;
    for (const Case& c : exp_cases) {
        EXPECT_TRUE(same_double(mpfr.rounded(Function::exp, c.x), c.expected)) << "table: " << c.x;
        EXPECT_TRUE(same_double(cr_exp(c.x), c.expected)) << "exp(" << c.x << ")";
        EXPECT_TRUE(same_double(detail::exp_accurate(c.x), c.expected)) << "accurate " << c.x;
    }
    for (const Case& c : log_cases) {
        EXPECT_TRUE(same_double(mpfr.rounded(Function::log, c.x), c.expected)) << "table: " << c.x;
        EXPECT_TRUE(same_double(cr_log(c.x), c.expected)) << "log(" << c.x << ")";
        EXPECT_TRUE(same_double(detail::log_accurate(c.x), c.expected)) << "accurate " << c.x;
    }
}

// A few thousand arguments of each kind, through the whole function and through the accurate
// path alone (which random arguments reach only about once in 2^14 calls).
TEST(CorrectlyRounded, RandomArgumentsMatchMpfr) {
    MpfrReference mpfr;
    ArgumentStream stream(16);
    int mismatches = 0;
    for (int i = 0; i < 2000; ++i) {
        const double exp_args[] = {stream.uniform(-745.2, 709.8), stream.uniform(-0x1p-20, 0x1p-20),
                                   stream.any()};
        for (double x : exp_args) {
            const double want = mpfr.rounded(Function::exp, x);
            mismatches += same_double(cr_exp(x), want) ? 0 : 1;
            const double magnitude = x < 0 ? -x : x;
            if (magnitude >= 0x1p-54 && magnitude <= 746.0) {
                mismatches += same_double(detail::exp_accurate(x), want) ? 0 : 1;
            }
        }
        const double log_args[] = {stream.uniform(0.0, 1e7), stream.uniform(0.99, 1.01),
                                   stream.uniform(0.0, 0x1p-1022), stream.any()};
        for (double x : log_args) {
            const double want = mpfr.rounded(Function::log, x);
            mismatches += same_double(cr_log(x), want) ? 0 : 1;
            if (x > 0 && x < kInf && x != 1.0) {
                mismatches += same_double(detail::log_accurate(x), want) ? 0 : 1;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// The rounding tests are only as sound as the error bounds they use: the measured error of the
// fast approximations must stay well inside them, where it is largest (|r| and |z| at their
// extremes, x near 1 for log).
TEST(CorrectlyRounded, FastPathErrorStaysInsideTheRoundingTestBound) {
    MpfrReference mpfr;
    ArgumentStream stream(7);
    double worst_exp = 0.0;
    double worst_log = 0.0;
    for (int i = 0; i < 4000; ++i) {
        double lo = 0.0;
        const double x = stream.uniform(-600.0, 709.0);
        double hi = detail::exp_fast_approximation(x, lo);
        worst_exp = std::max(worst_exp, mpfr.relative_error(Function::exp, x, hi, lo));
        const double y = i % 2 == 0 ? stream.uniform(0.98, 1.02) : stream.uniform(1e-300, 1e7);
        hi = detail::log_fast_approximation(y, lo);
        worst_log = std::max(worst_log, mpfr.relative_error(Function::log, y, hi, lo));
    }
    EXPECT_LT(worst_exp, detail::kExpFastErrorBound / 2);
    EXPECT_LT(worst_log, detail::kLogFastErrorBound / 2);
    EXPECT_GT(worst_exp, 0.0);
}

// The same for the plain-double first steps, whose bounds are tight to the error: exp's sums
// six terms of at most 2^-63 (measured 2^-61.7 of the 2^-61 used, hence 3/4 here), log's is
// mostly half an ulp of z^2, largest when x is within 2^-9 of 1 and there is no table term.
TEST(CorrectlyRounded, FirstStepErrorStaysInsideTheRoundingTestBound) {
    MpfrReference mpfr;
    ArgumentStream stream(9);
    double worst_exp = 0.0;
    double worst_log = 0.0;
    for (int i = 0; i < 20000; ++i) {
        double lo = 0.0;
        // From -650 up, lo scaled by 2^K stays normal and keeps its bits.
        const double x = i % 2 == 0 ? stream.uniform(-650.0, 707.0) : stream.uniform(-1.0, 1.0);
        double hi = detail::exp_first_approximation(x, lo);
        worst_exp = std::max(worst_exp, mpfr.relative_error(Function::exp, x, hi, lo));
        const double ranges[][2] = {{0.998, 1.002}, {0.99, 1.01}, {1e-300, 1e300}, {0.5, 2.0}};
        const double y = stream.uniform(ranges[i % 4][0], ranges[i % 4][1]);
        hi = detail::log_first_approximation(y, lo);
        worst_log = std::max(worst_log, mpfr.relative_error(Function::log, y, hi, lo));
    }
    EXPECT_LT(worst_exp, detail::kExpFirstErrorBound * 0.75);
    EXPECT_LT(worst_log, detail::kLogFirstErrorBound / 2);
    EXPECT_GT(worst_exp, detail::kExpFirstErrorBound / 64);
    std::printf("first step: worst relative error exp 2^%.2f, log 2^%.2f\n", std::log2(worst_exp),
                std::log2(worst_log));
}

}  // namespace
}  // namespace eqsim
