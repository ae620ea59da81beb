// The standard normal distribution function Phi, its density phi, and the Gaussian e^(-z^2/2),
// of the project's own: double arithmetic in a fixed order and the first step of cr_exp
// (correctly_rounded.h), no C library function, no fused multiply-add, so that their bits do not
// depend on the machine that ran them. normal.cpp derives the error bounds;
// tools/make_normal_tables.py generates the constants in normal_tables.h.
//
// The Gaussian, and its two-at-a-time form, are inline here: kernel equating sums them over
// pairs of scores.
#pragma once

#include <bit>
#include <cstdint>

#include "engine/numeric/correctly_rounded.h"
#include "engine/numeric/normal_tables.h"

namespace eqsim {

// 1/sqrt(2 pi) rounded to nearest.
inline constexpr double kInvSqrtTwoPi = normal_tables::kInvSqrtTwoPiHi;

// e^(-z^2/2). For results in the normal range, within 0.51 ulp of the exact value; below 2^-1022
// within 0.76 of the least subnormal 2^-1074. 0 for |z| > 38.61 (the exact value is below
// 2^-1075 there and rounds to 0), NaN for NaN.
inline double gaussian(double z);

// gaussian(z0) and gaussian(z1) at once, with the same bits: two-wide vector arithmetic when
// 2^-26 <= |z| <= 37.6 for both (where e^(-z^2/2) needs no special step), one at a time
// otherwise. About twice as fast per Gaussian as gaussian.
inline void gaussian_pair(double z0, double z1, double& g0, double& g1);

// phi(z) = e^(-z^2/2) / sqrt(2 pi), with the same bounds as gaussian: 0 for |z| > 38.61, NaN for
// NaN.
double normal_pdf(double z);

// Phi(z) = P(Z <= z) for a standard normal Z. Within 1 ulp of the exact value (measured: 0.74);
// for results below 2^-1022 (z below about -37.5) within 1 of the least subnormal, and 0 from
// about z = -38.47 down, where the exact value is below 2^-1075. Exactly 1 for z > 9, where
// 1 - Phi(z) < 2^-54, so the exact value rounds to 1. Phi(+inf) = 1, Phi(-inf) = 0, NaN for NaN.
// normal_cdf(-z) is the upper tail 1 - Phi(z) to the same relative accuracy.
double normal_cdf(double z);

namespace normal_detail {

inline constexpr double kSplitter = 0x1p27 + 1.0;  // Veltkamp's constant for doubles
inline constexpr double kTiny = 0x1p-26;           // below: e^(-x^2/2) = 1 - x^2/2 to 2^-107
// e^(-x^2/2) rounds to 0 beyond: 38.61^2 / 2 > 745.36 > -log(2^-1075) = 745.13.
inline constexpr double kGaussianZero = 38.61;
// cr_exp's first step takes arguments down to -707; below, the argument is raised by
// kShift ln 2 (exactly, see exp_half_square) and the result scaled by 2^-kShift at the end.
inline constexpr double kFirstStepLowest = -707.0;
inline constexpr int kShift = 192;
inline constexpr double kShiftDown = 0x1p-192;

// x = hi + lo with hi holding the leading 26 bits (Veltkamp's splitting); for |x| < 2^995.
inline double split_high(double x) {
    const double t = kSplitter * x;
    return t - (t - x);
}

// a * b = returned + err exactly (Dekker's product), while nothing overflows or underflows.
inline double two_product(double a, double b, double& err) {
    const double p = a * b;
    const double a_hi = split_high(a);
    const double a_lo = a - a_hi;
    const double b_hi = split_high(b);
    const double b_lo = b - b_hi;
    err = ((a_hi * b_hi - p) + a_hi * b_lo + a_lo * b_hi) + a_lo * b_lo;
    return p;
}

// e^(-x^2/2) = ((hi + lo) * scale) * tail for 0 <= x <= 40, relative error below 2^-60.9 before
// the roundings of the caller's own sum and products: hi in [1, 2), |lo| < 2^-9 hi, scale a power
// of two that keeps (hi + lo) * scale normal, tail 1 or 2^-kShift (then only the product with tail
// can fall below 2^-1022, and it rounds once).
//   x^2 = sq + sq_lo exactly (Dekker), s = -sq/2 and s_lo = -sq_lo/2 exactly;
//   e^(s + s_lo) = e^s (1 + s_lo), |s_lo| <= 2^-36.5 after the shift below, so the dropped
//   s_lo^2/2 is below 2^-74; e^s = (T_hi + t_lo) 2^K from cr_exp's first step (|s| in
//   [2^-53, 707]; its bound 2^-61 is derived in correctly_rounded.cpp).
// Below -707: s (a multiple of 2^-43, since sq >= 1024) plus kShift * kLn2Hi (a multiple of
// 2^-36 with 44 bits) is exact, being a multiple of 2^-43 below 2^10 in magnitude.
inline double exp_half_square(double x, double& lo, double& scale, double& tail) {
    tail = 1.0;
    if (x < kTiny) {
        lo = -0.5 * (x * x);
        scale = 1.0;
        return 1.0;
    }
    double sq_lo = 0.0;
    const double sq = two_product(x, x, sq_lo);
    double s = -0.5 * sq;
    double s_lo = -0.5 * sq_lo;
    if (s < kFirstStepLowest) {
        s += kShift * correctly_rounded_tables::kLn2Hi;
        s_lo += kShift * correctly_rounded_tables::kLn2Lo;
        tail = kShiftDown;
    }
    double e_lo = 0.0;
    const double e_hi = correctly_rounded_detail::exp_first(s, e_lo, scale);
    lo = e_lo + (e_hi + e_lo) * s_lo;
    return e_hi;
}

// Two lanes of doubles, and of their bits, in GCC's and Clang's vector extensions (SSE2 on
// x86-64, NEON on AArch64): each operation is the IEEE operation on each lane.
typedef double Pair __attribute__((vector_size(16)));
typedef std::uint64_t PairBits __attribute__((vector_size(16)));

inline Pair both(double v) {
    return Pair{v, v};
}

// Below, -x^2/2 >= -707: no shift, tail 1.
inline constexpr double kPairHighest = 37.6;

// e^(-x^2/2) for two x in [kTiny, kPairHighest]: exp_half_square, cr_exp's first step
// (correctly_rounded.h, exp_first) and gaussian's product, the same operations in the same order
// on each lane. The scale 2^(k >> 9) comes from k + 1023 * 512, which is not negative here
// (k >= -707 * 512 / log 2), by a logical shift.
inline Pair gaussian_two(Pair x) {
    namespace tables = correctly_rounded_tables;
    namespace first = correctly_rounded_detail;
    const Pair t = both(kSplitter) * x;
    const Pair x_hi = t - (t - x);
    const Pair x_lo = x - x_hi;
    const Pair sq = x * x;
    const Pair sq_lo = ((x_hi * x_hi - sq) + x_hi * x_lo + x_lo * x_hi) + x_lo * x_lo;
    const Pair s = both(-0.5) * sq;
    const Pair s_lo = both(-0.5) * sq_lo;
    const Pair shifted = s * both(tables::kInvStep) + both(first::kRoundingShift);
    const PairBits k = (PairBits)shifted - (PairBits)both(first::kRoundingShift);
    const Pair kd = shifted - both(first::kRoundingShift);
    const Pair r = (s - kd * both(tables::kStepHi)) - kd * both(tables::kStepLo);
    const Pair rr = r * r;
    const Pair q =
        rr * ((both(0.5) + both(1.0 / 6.0) * r) + rr * (both(1.0 / 24.0) + both(1.0 / 120.0) * r));
    const tables::ExpEntry& t0 = tables::kExp[k[0] & first::kIndex];
    const tables::ExpEntry& t1 = tables::kExp[k[1] & first::kIndex];
    const Pair e_hi = {t0.hi, t1.hi};
    Pair e_lo = e_hi * (r + q) + Pair{t0.lo, t1.lo};
    constexpr std::uint64_t kBias = std::uint64_t{1023} << first::kIndexBits;
    const PairBits scale = ((k + kBias) >> first::kIndexBits) << 52;
    e_lo = e_lo + (e_hi + e_lo) * s_lo;
    return (e_hi + e_lo) * (Pair)scale;
}

}  // namespace normal_detail

inline double gaussian(double z) {
    namespace detail = normal_detail;
    const double x =
        std::bit_cast<double>(std::bit_cast<std::uint64_t>(z) & correctly_rounded_detail::kAbsMask);
    if (!(x <= detail::kGaussianZero)) {
        return x != x ? z : 0.0;
    }
    double lo = 0.0;
    double scale = 0.0;
    double tail = 0.0;
    const double hi = detail::exp_half_square(x, lo, scale, tail);
    return ((hi + lo) * scale) * tail;
}

inline void gaussian_pair(double z0, double z1, double& g0, double& g1) {
    namespace detail = normal_detail;
    const double x0 = std::bit_cast<double>(std::bit_cast<std::uint64_t>(z0) &
                                            correctly_rounded_detail::kAbsMask);
    const double x1 = std::bit_cast<double>(std::bit_cast<std::uint64_t>(z1) &
                                            correctly_rounded_detail::kAbsMask);
    if (x0 >= detail::kTiny && x0 <= detail::kPairHighest && x1 >= detail::kTiny &&
        x1 <= detail::kPairHighest) {
        const detail::Pair g = detail::gaussian_two(detail::Pair{x0, x1});
        g0 = g[0];
        g1 = g[1];
        return;
    }
    g0 = gaussian(z0);
    g1 = gaussian(z1);
}

}  // namespace eqsim
