// Correctly rounded exp and log for double: the result is the double nearest to the exact value
// (ties to even), for every argument, on every processor, compiler and C library. Nothing here
// calls the C library's exp or log or uses fused multiply-add or long double, so the bits of a
// computation that uses these functions do not depend on the machine that ran it.
//
// The first, plain-double step of each function is inline here, so that a loop that calls them
// keeps its values in registers; the rest is in correctly_rounded.cpp, whose opening comment
// derives the error bounds of every step.
#pragma once

#include <bit>
#include <cfloat>
#include <cstdint>

#include "engine/numeric/correctly_rounded_tables.h"

static_assert(FLT_EVAL_METHOD == 0, "double expressions must be evaluated in double");

namespace eqsim {

// e^x rounded to nearest. Overflow gives +inf, underflow the rounded subnormal or +0;
// cr_exp(-inf) = +0, cr_exp(+inf) = +inf, cr_exp(NaN) is NaN.
inline double cr_exp(double x);

// The natural logarithm of x rounded to nearest. cr_log(+-0) = -inf, cr_log(x < 0) is NaN,
// cr_log(+inf) = +inf, cr_log(NaN) is NaN, cr_log(1) = +0; subnormal arguments are handled in full.
inline double cr_log(double x);

namespace correctly_rounded_detail {

// Everything the first steps do not settle: special and edge arguments, then the double-double
// step, then the accurate path. Each is the whole function on its own.
double exp_second(double x);
double log_second(double x);

// The accurate paths alone (256-bit fixed point), for finite arguments that the fast path passes
// on: exp for 2^-54 <= |x| <= 746, log for positive finite x other than 1. Exposed so the tests
// can check them on their own; callers use cr_exp and cr_log.
double exp_accurate(double x);
double log_accurate(double x);

// The fast paths' double-double approximation before the rounding test, for measuring its error
// bound in tests: exp for |x| in [2^-54, 708], log for positive normal x. Returns hi and sets lo;
// hi + lo is the approximation, not normalized.
double exp_fast_approximation(double x, double& lo);
double log_fast_approximation(double x, double& lo);

// The first steps' plain-double approximation, tried before the above: exp for |x| in
// [2^-54, 707], log for positive normal x. Returns hi and sets lo as above.
double exp_first_approximation(double x, double& lo);
double log_first_approximation(double x, double& lo);

// Relative error bounds of those approximations used by the rounding tests.
extern const double kExpFastErrorBound;
extern const double kLogFastErrorBound;

// Relative error bounds of the first steps (derived in correctly_rounded.cpp).
inline constexpr double kExpFirstErrorBound = 0x1p-61;
inline constexpr double kLogFirstErrorBound = 0x1p-62;

inline constexpr std::uint64_t kFractionBits = 0x000fffffffffffffu;
inline constexpr std::uint64_t kOne = 0x3ff0000000000000u;
inline constexpr int kIndexBits = correctly_rounded_tables::kTableBits;
inline constexpr std::uint64_t kIndex = (std::uint64_t{1} << kIndexBits) - 1;
// The first kIndexBits bits of a double's fraction.
inline constexpr std::uint64_t kIndexFraction =
    kFractionBits & ~((std::uint64_t{1} << (52 - kIndexBits)) - 1);
inline constexpr double kRoundingShift = 0x1.8p52;  // adding it rounds |v| < 2^51 to an integer

inline constexpr std::uint64_t kAbsMask = ~(std::uint64_t{1} << 63);
// exp's first step takes 2^-54 <= |x| <= 707: then -1021 <= K <= 1020 and the result is normal.
inline constexpr std::uint64_t kExpFirstLowest = 0x3c90000000000000u;   // 2^-54
inline constexpr std::uint64_t kExpFirstHighest = 0x4086180000000000u;  // 707
// Subtracting it from a positive normal x's bits leaves e' in the exponent field (e + 1 from
// the index kLogUpperStart on), the borrow doing the comparison.
inline constexpr std::uint64_t kLogExponentOffset =
    (std::uint64_t{1022} << 52) |
    (static_cast<std::uint64_t>(correctly_rounded_tables::kLogUpperStart) << (52 - kIndexBits));

// 2^-K (T_hi + (T_hi (r + q) + T_lo)) ~ e^x as hi + lo; sets the scale 2^K.
inline double exp_first(double x, double& lo, double& scale) {
    const double shifted = x * correctly_rounded_tables::kInvStep + kRoundingShift;
    const auto k = static_cast<std::int64_t>(std::bit_cast<std::uint64_t>(shifted) -
                                             std::bit_cast<std::uint64_t>(kRoundingShift));
    const double kd = shifted - kRoundingShift;
    const double r =
        (x - kd * correctly_rounded_tables::kStepHi) - kd * correctly_rounded_tables::kStepLo;
    const double rr = r * r;
    const double q = rr * ((0.5 + (1.0 / 6.0) * r) + rr * (1.0 / 24.0 + (1.0 / 120.0) * r));
    const correctly_rounded_tables::ExpEntry& t = correctly_rounded_tables::kExp[k & kIndex];
    lo = t.hi * (r + q) + t.lo;
    scale = std::bit_cast<double>(static_cast<std::uint64_t>((k >> kIndexBits) + 1023) << 52);
    return t.hi;
}

// (e' ln2_hi + T_hi) + z - z^2/2 + ... ~ log x as hi + lo, x positive and normal, from its bits.
inline double log_first(std::uint64_t b, double& lo) {
    const auto e = static_cast<std::int64_t>(b - kLogExponentOffset) >> 52;
    const correctly_rounded_tables::LogEntry& t =
        correctly_rounded_tables::kLog[(b >> (52 - kIndexBits)) & kIndex];
    const double m = std::bit_cast<double>((b & kFractionBits) | kOne);
    const double m_hi = std::bit_cast<double>((b & kIndexFraction) | kOne);
    const double z = (m_hi * t.c - 1.0) + (m - m_hi) * t.c;  // exact
    const auto ed = static_cast<double>(e);
    const double h0 = ed * correctly_rounded_tables::kLn2Hi + t.minus_log_hi;  // exact
    const double s1 = h0 + z;  // Fast2Sum: h0 = 0 or |h0| > |z|
    const double e1 = z - (s1 - h0);
    const double zz = z * z;
    const double h = -0.5 * zz;
    const double s2 = s1 + h;  // Fast2Sum: |s1| > z^2/2
    const double e2 = h - (s2 - s1);
    const double cubic =
        (z * zz) * ((1.0 / 3.0 - 0.25 * z) + zz * ((0.2 - (1.0 / 6.0) * z) + zz * (1.0 / 7.0)));
    lo = (e1 + e2) + ((t.minus_log_lo + ed * correctly_rounded_tables::kLn2Lo) + cubic);
    return s2;
}

// Ziv's test: every value within `bound` of hi + lo rounds to `rounded`.
inline bool rounds_alike(double hi, double lo, double bound, double& rounded) {
    rounded = hi + (lo - bound);
    return rounded == hi + (lo + bound);
}

}  // namespace correctly_rounded_detail

inline double cr_exp(double x) {
    namespace detail = correctly_rounded_detail;
    if ((std::bit_cast<std::uint64_t>(x) & detail::kAbsMask) - detail::kExpFirstLowest >
        detail::kExpFirstHighest - detail::kExpFirstLowest) {
        return detail::exp_second(x);
    }
    double lo = 0.0;
    double scale = 0.0;
    const double hi = detail::exp_first(x, lo, scale);
    double rounded = 0.0;
    if (!detail::rounds_alike(hi, lo, hi * detail::kExpFirstErrorBound, rounded)) {
        return detail::exp_second(x);
    }
    return rounded * scale;
}

inline double cr_log(double x) {
    namespace detail = correctly_rounded_detail;
    const auto b = std::bit_cast<std::uint64_t>(x);
    // Not a positive normal number: zero, subnormal, negative, infinite or NaN.
    if (b - (std::uint64_t{1} << 52) >= 0x7ff0000000000000u - (std::uint64_t{1} << 52)) {
        return detail::log_second(x);
    }
    double lo = 0.0;
    const double hi = detail::log_first(b, lo);
    const double magnitude =
        std::bit_cast<double>(std::bit_cast<std::uint64_t>(hi) & detail::kAbsMask);
    double rounded = 0.0;
    if (!detail::rounds_alike(hi, lo, magnitude * detail::kLogFirstErrorBound, rounded)) {
        return detail::log_second(x);
    }
    return rounded;
}

}  // namespace eqsim
