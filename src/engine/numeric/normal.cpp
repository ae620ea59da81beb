// The standard normal distribution function and density from double arithmetic alone.
//
// Method and sources
//   The upper tail is written as the Gaussian times a slowly varying factor,
//       Q(x) = 1 - Phi(x) = e^(-x^2/2) M(x),   M(x) = R(x) / sqrt(2 pi),   x >= 0,
//   R being Mills' ratio (J. P. Mills, "Table of the ratio: area to bounding ordinate, for any
//   portion of normal curve", Biometrika 18, 1926); W. J. Cody ("Rational Chebyshev
//   approximations for the error function", Math. Comp. 23, 1969) factors erfc the same way, and
//   G. Marsaglia ("Evaluating the normal distribution", J. Statistical Software 11(4), 2004)
//   expands the ratio about tabulated points, as here. M is approximated by polynomials of
//   degree 12 on 51 intervals of [0, 40] (eight of width 1/8 below 1, then eight per binade),
//   each interpolating M at its Chebyshev points and rewritten in powers of t = x - centre
//   (tools/make_normal_tables.py). e^(-x^2/2) comes from cr_exp's first step as an unevaluated
//   sum with relative error below 2^-61, its argument carried as a double-double so that the
//   rounding of x^2, worth about x^2/2 ulp of the result, is corrected (normal.h,
//   exp_half_square). Exact products by Dekker's method with Veltkamp's splitting (T. J. Dekker,
//   "A floating-point technique for extending the available precision", Numer. Math. 18, 1971)
//   and exact sums by Fast2Sum keep every intermediate rounding far below the final one.
//
// Symbols and names
//   e^(-x^2/2) = (T_hi + e_lo) 2^K tail                     hi, lo, scale, tail
//   M(centre + t) = m_hi + (m_lo + t P(t))                   m_hi, rest = m_lo + t P(t)
//   T_hi m_hi = p + p_lo exactly                             p, p_lo
//   Q 2^-K / tail = p + (p_lo + T_hi rest + e_lo M)          y = p + small
//   1/sqrt(2 pi) = C_hi + C_lo                               kInvSqrtTwoPiHi, kInvSqrtTwoPiLo
//
// Error bounds, relative to the result before its final rounding
//   Gaussian and phi: cr_exp's first step 2^-61 (derived in correctly_rounded.cpp); the dropped
//   (s_lo)^2/2 below 2^-74; the dropped e_lo C_lo below 2^-64; the roundings inside the small
//   terms below 2^-62. In all under 2^-60, which is 2^-7 ulp: with the final rounding, within
//   0.51 ulp.
//   Q: the exponential as above; the polynomial with its rounded coefficients 2^-57.0 (checked by
//   the generator); the roundings in forming t P(t) (Horner's rule, |t P| <= 0.11 M, at most two
//   roundings' worth of the small part: 2^-55.2), in T_hi * rest and in the sum of the small
//   terms (2^-56.2 each). In all below 2^-54, half an ulp: Q, and Phi for z <= 0, within 1 ulp.
//   Phi for z > 0 is 1 - Q with Q <= 1/2 carried as p + small: Fast2Sum makes 1 - p exact, so
//   the error is Q's (below 2^-55 absolute, half an ulp of a result in [1/2, 1]) and the final
//   rounding: within 1 ulp.
//   Results below 2^-1022: the value is rounded twice, to 53 bits and then to the subnormal grid
//   by the product with tail (or with the scale 2^K itself when e^(-x^2/2) is just above 2^-1022
//   and Q is not); the first costs at most 2^-1076, a quarter of the least subnormal, so the
//   error is below 0.76 of the least subnormal for the Gaussian and phi, and below 1 for Phi.
// Measured against MPFR over 10^7 arguments uniform on [-40, 40] (normal_exhaustive_test.cpp):
// Phi at most 0.74 ulp from the exact value, phi and the Gaussian 0.502; for subnormal results
// 0.75 of the least subnormal. No result is more than 1 ulp from the correctly rounded value
// (0.8 % of Phi's are 1 ulp away, 0.05 % of phi's).
//
// The code assumes IEEE double evaluated in double (FLT_EVAL_METHOD 0), rounding to nearest and
// no contraction into fused multiply-adds (-ffp-contract=off).
#include "engine/numeric/normal.h"

#include <bit>
#include <cfloat>
#include <cstdint>

#include "engine/numeric/normal_tables.h"

static_assert(FLT_EVAL_METHOD == 0, "double expressions must be evaluated in double");

namespace eqsim {

namespace {

namespace tables = normal_tables;
using normal_detail::exp_half_square;
using normal_detail::two_product;

constexpr double kCdfOne = 9.0;    // Q(9) < 2^-62: Phi rounds to 1 above
constexpr double kTailEnd = 40.0;  // Phi is 0 below -40 (it underflows from about -38.47)
constexpr std::uint64_t kAbsMask = ~(std::uint64_t{1} << 63);

double magnitude(double z) {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(z) & kAbsMask);
}

// The interval of M's table holding 0 <= x <= 40: eight of width 1/8 below 1, then eight per
// binade, picked by the exponent and the first three fraction bits of x.
const tables::TailEntry& tail_entry(double x) {
    if (x < 1.0) {
        return tables::kTail[static_cast<int>(x * tables::kIntervalsBelowOne)];
    }
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
    const int exponent = static_cast<int>(bits >> 52) - 1023;
    const int eighth = static_cast<int>(bits >> 49) & 7;
    return tables::kTail[tables::kIntervalsBelowOne + tables::kIntervalsPerBinade * exponent +
                         eighth];
}

// The small part of M(x), m_lo + t P(t), at most 11 % of M; sets m_hi.
double tail_ratio_rest(double x, double& m_hi) {
    const tables::TailEntry& entry = tail_entry(x);
    const double t = x - entry.centre;  // exact: Sterbenz, or centre 0
    double poly = entry.p[tables::kDegree - 1];
    for (int k = tables::kDegree - 2; k >= 0; --k) {
        poly = poly * t + entry.p[k];
    }
    m_hi = entry.m_hi;
    return entry.m_lo + t * poly;
}

}  // namespace

double normal_pdf(double z) {
    const double x = magnitude(z);
    if (!(x <= normal_detail::kGaussianZero)) {
        return x != x ? z : 0.0;
    }
    double lo = 0.0;
    double scale = 0.0;
    double tail = 0.0;
    const double hi = exp_half_square(x, lo, scale, tail);
    double p_lo = 0.0;
    const double p = two_product(hi, tables::kInvSqrtTwoPiHi, p_lo);
    const double y = p + (p_lo + (hi * tables::kInvSqrtTwoPiLo + lo * tables::kInvSqrtTwoPiHi));
    return (y * scale) * tail;
}

double normal_cdf(double z) {
    if (z != z) {
        return z + z;
    }
    if (z > kCdfOne) {
        return 1.0;
    }
    const double x = magnitude(z);
    if (x > kTailEnd) {
        return 0.0;
    }
    double lo = 0.0;
    double scale = 0.0;
    double tail = 0.0;
    const double hi = exp_half_square(x, lo, scale, tail);
    double m_hi = 0.0;
    const double rest = tail_ratio_rest(x, m_hi);
    double p_lo = 0.0;
    const double p = two_product(hi, m_hi, p_lo);
    const double small = p_lo + (hi * rest + lo * (m_hi + rest));
    if (z <= 0.0) {
        return ((p + small) * scale) * tail;
    }
    // 0 < z <= 9: Q = (p + small) * scale exactly as two doubles (tail is 1, nothing is
    // subnormal), Q <= 1/2, and 1 - q_hi is exact by Fast2Sum.
    const double q_hi = p * scale;
    const double q_lo = small * scale;
    const double s = 1.0 - q_hi;
    const double s_err = (1.0 - s) - q_hi;
    return s + (s_err - q_lo);
}

}  // namespace eqsim
