// Correctly rounded exp and log for double (round to nearest, ties to even).
//
// Algorithms and sources
//   Ziv's strategy (A. Ziv, "Fast evaluation of elementary mathematical functions with correctly
//   rounded last bit", ACM TOMS 17(3), 1991): a fast approximation with a known relative error
//   bound, a rounding test that returns its result only when every value inside the bound rounds
//   to the same double, and otherwise a slower, far more accurate evaluation.
//   Table-driven argument reduction (J.-M. Muller, "Elementary Functions: Algorithms and
//   Implementation", Birkhauser; the chapters on table-based methods and on range reduction,
//   with Cody and Waite's splitting of the constant ln 2 / 512 into a short high part and a low
//   part).
//   Double-double arithmetic without fused multiply-add (T. J. Dekker, "A floating-point
//   technique for extending the available precision", Numerische Mathematik 18, 1971): Fast2Sum
//   for exact sums, and exact products by splitting one factor into halves of at most 26 bits
//   (Veltkamp's splitting; here by adding and subtracting 1.5 * 2^n, which rounds to a fixed
//   number of fraction bits) so that a product of two halves fits in 53 bits.
//   Hardest-to-round cases: V. Lefevre and J.-M. Muller, "Worst cases for correct rounding of
//   the elementary functions in double precision" (ARITH 15, 2001) and Lefevre's later tables.
//   The hardest published cases lie about 2^-118 (relative) from a rounding boundary; the
//   accurate path's error is below 2^-230, so its rounding is decided with over 100 bits to spare.
//
// exp(x), symbols of the derivation and their names in the code
//   x = k ln2/512 + r, k = round(x 512/ln2)                   k, kd (k as a double), kInvStep
//   ln2/512 = S_hi + S_lo, S_hi with 33 bits                  kStepHi, kStepLo (k S_hi exact)
//   r = (x - k S_hi) - k S_lo, |r| < 2^-10.5                  r (r_lo: its rounding error)
//   r = r_hi + r_rest, r_hi a multiple of 2^-36 (26 bits)     r_hi, r_rest
//   k = 512 K + j, 0 <= j < 512                               K = k >> 9, j = k & 511
//   exp(x) = 2^K T_j exp(r), T_j = 2^(j/512)                  kExp[j]: T_j = hh + hl + tl
//   exp(r) = 1 + r + q, q = r^2/2 + ... + r^5/120             q (remainder below 2^-72.5)
//   T_j exp(r) = (T_hi + hh r_hi) + hl r_hi + T_hi (r_rest + q) + tl (1 + r),  hh r_hi exact
// log(x), symbols and names
//   x = 2^e m, 1 <= m < 2 (subnormal x scaled by 2^54 first)      e, m
//   i = first 9 bits of m's fraction, m_hi = 1 + i/512           index i, m_hi
//   c_i ~ 1/m, a multiple of 2^-10; z = m c_i - 1, |z| <= 2^-9   kLog[i].c, z (exact, below)
//   log x = e ln2 - log c_i + log(1 + z); from i = 212 on (m just below sqrt 2 and up) the
//   same with e + 1 and 2 c_i, so that no table term cancels for x near 1: e' (exponent, ed),
//   kLog[i].minus_log; c_0 = 1 and c_511 = 1/2 make the table term 0 around x = 1
//   log(1 + z) = z - z^2/2 + z^3 P(z), P(z) = 1/3 - z/4 + ... - z^5/8   poly, cubic
//   z^2/2 = z_hi^2/2 + z_lo (z + z_hi)/2, z_hi with 26 bits: z_hi^2 exact   h_hi, h_lo
// z is exact: m_hi c_i has at most 20 bits, m_lo c_i (m_lo = m - m_hi) at most 43 + 10 = 53
// bits, and their sum is a multiple of 2^-62 at most 2^-9 in magnitude, so at most 53 bits.
//
// First steps (both functions; inline in correctly_rounded.h), tried before everything above: the
// same reductions in plain double, one rounding test, no branch or division before it; the
// double-double step and the accurate path run only for arguments they cannot settle (and for
// special and edge ones).
//   exp, 2^-54 <= |x| <= 707 (so -1021 <= K <= 1020 and the result is normal):
//     k = round(x 512/ln2) read from the bits of x 512/ln2 + 1.5 2^52; r as above, rounded;
//     q = r^2/2 + ... + r^5/120; hi = T_hi, lo = T_hi (r + q) + T_lo  (T_j = T_hi + T_lo).
//     Error relative to e^x, in units of 2^-63, with |r| <= 2^-10.53, u = 2^-53 and the
//     rounding of a value below 2^-10 (half an ulp) at most 2^-64: r's rounding 0.5; r + q's
//     0.5; T_hi (r + q)'s and the sum with T_lo's, at most 2^-63 each but only where
//     T_hi >= 1.44 (the product reaches 2^-10), so 0.69 each; the dropped T_lo (r + q), below
//     2^-53 2^-10.53, 0.69; the rounding of lo -+ bound in the test, 0.69; the Taylor remainder,
//     the rounding of q and of k S_lo, and the tables below 0.01. Sum 3.77 < 4: the test uses
//     2^-61 T_hi (measured: 2^-61.7).
//   log, x positive and normal: e' from the bits of x less those of 2^-1 (1 + 212/512) (the
//     borrow picks e or e + 1); z exact as above; T_i = -log c_i = T_hi + T_lo with T_hi on the
//     grid of kLn2Hi (multiples of 2^-42), so h0 = e' kLn2Hi + T_hi is exact (at most 53 bits);
//     s1 = h0 + z and s2 = s1 - z^2/2 by Fast2Sum (h0 = 0 or |h0| > |z| from the table
//     generator; |s1| > z^2/2), keeping both rounding errors e1, e2 exactly;
//     hi = s2, lo = (e1 + e2) + ((T_lo + e' kLn2Lo) + z^3 P(z)), P to the z^4/7 term.
//     Error relative to log x: the rounding of z^2, u z^2/2, is at most 2^-63 (1.001) of |log x|
//     where there is no table term (log x ~ z, |z| <= 2^-9) and 2^-64 elsewhere with e' = 0
//     (z_max^2 / (2 min |log x|) < 2^-11 per index, checked by the generator); the Taylor
//     remainder |z|^8/8 is below 2^-66 of it; the roundings in lo and of lo -+ bound apply to
//     terms below |z|^3/3 + 2^-43 (e' = 0) and below 2^-33 (|log x| > 1/3) otherwise. Sum below
//     1.3 2^-63: the test uses 2^-62 |hi| (measured: 2^-63.5).
//   A rounding test fails for about 2 bound / ulp of the arguments, one in 2^7.5 (exp) or 2^8.5
//   (log); in the pre-smoothed example 0.8 % of exps and 0.25 % of logs go on to the
//   double-double step (exp_second, log_second), and about one call in 2^14 to the accurate path.
//
// Accurate path (both functions): the same reductions carried out in binary fixed point with
// 256 fraction bits and 64 integer bits (Wide: five 64-bit limbs, two's complement), tables of
// 2^(j/512) and -log c_i to 2^-256, and Taylor series by Horner's rule with tabulated 1/n! and
// 1/n. Its relative error is below 2^-230; the double is rounded from its bits.
//
// Error bounds of the fast paths relative to the result, adding up the rounding errors of each
// step and of the rounding test's own lo -+ bound: about 2^-70.5 for exp (largest parts: the
// Taylor remainder, 2^-72.5, and the sums into lo) and 2^-69 for log (largest: the rounding of
// z^3 P(z) and of the sums into lo when |z| is near 2^-9 and x near 1). Measured against MPFR
// (tests/numeric/correctly_rounded_test.cpp checks it stays below half the bound used): at most
// 2^-71.7 and 2^-70.9. The rounding tests use 2^-69 and 2^-68; about one call in 2^14 takes
// the accurate path.
//
// The constants are generated by src/numeric/tools/make_correctly_rounded_tables.py (see there).
// The code assumes IEEE double evaluated in double (FLT_EVAL_METHOD 0: x86-64 with SSE2, AArch64),
// rounding to nearest, and no contraction into fused multiply-adds (-ffp-contract=off).
#include "engine/numeric/correctly_rounded.h"

#include <bit>
#include <cfloat>
#include <cstdint>
#include <limits>

#include "engine/numeric/correctly_rounded_tables.h"

static_assert(FLT_EVAL_METHOD == 0, "double expressions must be evaluated in double");
static_assert(std::numeric_limits<double>::is_iec559, "IEEE double needed");

namespace eqsim {

namespace tables = correctly_rounded_tables;

namespace correctly_rounded_detail {
const double kExpFastErrorBound = 0x1p-69;
const double kLogFastErrorBound = 0x1p-68;
}  // namespace correctly_rounded_detail

namespace {

using std::int64_t;
using std::uint64_t;
__extension__ typedef unsigned __int128 u128;

// The bit patterns the first steps use too (correctly_rounded.h).
using correctly_rounded_detail::kFractionBits;
using correctly_rounded_detail::kIndex;
using correctly_rounded_detail::kIndexBits;
using correctly_rounded_detail::kIndexFraction;
using correctly_rounded_detail::kOne;
using correctly_rounded_detail::kRoundingShift;
// log's z is a multiple of 2^-kZUnitBits (see the opening comment).
constexpr int kZUnitBits = 52 + 1 + kIndexBits;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

uint64_t bits_of(double x) {
    return std::bit_cast<uint64_t>(x);
}
double from_bits(uint64_t b) {
    return std::bit_cast<double>(b);
}

// ---------------------------------------------------------------------------------------------
// Wide: a fixed-point number, value = sum w[i] * 2^(64 i - 256), read as two's complement
// modulo 2^320 where a sign matters.

struct Wide {
    uint64_t w[5];
};

Wide wide_from(const tables::Wide& t) {
    return Wide{{t[0], t[1], t[2], t[3], t[4]}};
}

Wide add(const Wide& a, const Wide& b) {
    Wide s{};
    uint64_t carry = 0;
    for (int i = 0; i < 5; ++i) {
        const u128 t = static_cast<u128>(a.w[i]) + b.w[i] + carry;
        s.w[i] = static_cast<uint64_t>(t);
        carry = static_cast<uint64_t>(t >> 64);
    }
    return s;
}

Wide negate(const Wide& a) {
    Wide n{};
    uint64_t carry = 1;
    for (int i = 0; i < 5; ++i) {
        const u128 t = static_cast<u128>(~a.w[i]) + carry;
        n.w[i] = static_cast<uint64_t>(t);
        carry = static_cast<uint64_t>(t >> 64);
    }
    return n;
}

Wide subtract(const Wide& a, const Wide& b) {
    return add(a, negate(b));
}

bool is_negative(const Wide& a) {
    return (a.w[4] >> 63) != 0;
}

bool less_unsigned(const Wide& a, const Wide& b) {
    for (int i = 4; i >= 0; --i) {
        if (a.w[i] != b.w[i]) {
            return a.w[i] < b.w[i];
        }
    }
    return false;
}

// floor(a * b) for nonnegative a and b whose product is below 2^63.
Wide multiply(const Wide& a, const Wide& b) {
    uint64_t p[10] = {};
    for (int i = 0; i < 5; ++i) {
        if (a.w[i] == 0) {
            continue;
        }
        uint64_t carry = 0;
        for (int j = 0; j < 5; ++j) {
            const u128 t = static_cast<u128>(a.w[i]) * b.w[j] + p[i + j] + carry;
            p[i + j] = static_cast<uint64_t>(t);
            carry = static_cast<uint64_t>(t >> 64);
        }
        p[i + 5] = carry;
    }
    return Wide{{p[4], p[5], p[6], p[7], p[8]}};
}

// a * n for nonnegative a, exact while the product stays below 2^63.
Wide multiply_small(const Wide& a, uint64_t n) {
    Wide s{};
    uint64_t carry = 0;
    for (int i = 0; i < 5; ++i) {
        const u128 t = static_cast<u128>(a.w[i]) * n + carry;
        s.w[i] = static_cast<uint64_t>(t);
        carry = static_cast<uint64_t>(t >> 64);
    }
    return s;
}

// floor(a / 2^shift), 0 < shift < 64, for nonnegative a.
Wide shift_right(const Wide& a, int shift) {
    Wide s{};
    for (int i = 0; i < 5; ++i) {
        s.w[i] = a.w[i] >> shift;
        if (i < 4) {
            s.w[i] |= a.w[i + 1] << (64 - shift);
        }
    }
    return s;
}

// The signed product a * n, a nonnegative.
Wide multiply_signed(const Wide& a, int64_t n) {
    const uint64_t magnitude = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
    const Wide p = multiply_small(a, magnitude);
    return n < 0 ? negate(p) : p;
}

int highest_bit(const Wide& a) {
    for (int i = 4; i >= 0; --i) {
        if (a.w[i] != 0) {
            return 64 * i + 63 - std::countl_zero(a.w[i]);
        }
    }
    return -1;
}

// The 64 bits of a from bit position `from` (>= 0) up; bits past the top read as 0.
uint64_t bits_from(const Wide& a, int from) {
    const int limb = from / 64;
    const int shift = from % 64;
    if (limb >= 5) {
        return 0;
    }
    uint64_t b = a.w[limb] >> shift;
    if (shift != 0 && limb + 1 < 5) {
        b |= a.w[limb + 1] << (64 - shift);
    }
    return b;
}

bool any_bit_below(const Wide& a, int position) {
    for (int i = 0; i < 5 && 64 * i < position; ++i) {
        const int top = position - 64 * i;
        const uint64_t mask = top >= 64 ? ~uint64_t{0} : (uint64_t{1} << top) - 1;
        if ((a.w[i] & mask) != 0) {
            return true;
        }
    }
    return false;
}

// m * 2^e2 as a double, for m <= 2^53 with m * 2^e2 representable except for overflow: a
// normal result needs m >= 2^52, a subnormal one e2 = -1074.
double make_double(uint64_t m, int e2, bool negative) {
    const uint64_t sign = negative ? uint64_t{1} << 63 : 0;
    if (m == 0) {
        return from_bits(sign);
    }
    if (m == uint64_t{1} << 53) {
        m >>= 1;
        ++e2;
    }
    if (m < (uint64_t{1} << 52)) {
        return from_bits(sign | m);
    }
    const int biased = e2 + 52 + 1023;
    if (biased >= 2047) {
        return negative ? -kInfinity : kInfinity;
    }
    return from_bits(sign | (static_cast<uint64_t>(biased) << 52) | (m & kFractionBits));
}

// magnitude * 2^(exponent - 256) rounded to the nearest double (ties to even), subnormal
// results included. magnitude must have its highest bit at position 53 or above.
double round_wide(const Wide& magnitude, int exponent, bool negative) {
    const int top = highest_bit(magnitude);
    const int binade = top - 256 + exponent;
    const int precision = binade >= -1022 ? 53 : binade + 1075;
    if (precision < 0) {
        return from_bits(negative ? uint64_t{1} << 63 : 0);
    }
    const int drop = top + 1 - precision;
    uint64_t m = precision == 0 ? 0 : bits_from(magnitude, drop);
    const bool half = ((bits_from(magnitude, drop - 1)) & 1) != 0;
    const bool sticky = any_bit_below(magnitude, drop - 1);
    if (half && (sticky || (m & 1) != 0)) {
        ++m;
    }
    return make_double(m, drop - 256 + exponent, negative);
}

// ---------------------------------------------------------------------------------------------
// exp

constexpr double kSplitR = 0x1.8p16;      // adding it rounds |r| < 2^-10 to a multiple of 2^-36
constexpr double kExpOverflow = 709.8;    // above ln(DBL_MAX) + half an ulp's worth: +inf
constexpr double kExpUnderflow = -745.2;  // below ln(2^-1075): +0
constexpr double kExpNearZero = 0x1p-54;  // |x| below: e^x rounds to 1
constexpr double kSplitZ = 0x1.8p17;      // rounds |z| <= 2^-9 to a multiple of 2^-35, 26 bits
// From here down 2^K would not keep the result normal: the accurate path rounds subnormals.
constexpr int64_t kExpLowestFastK = int64_t{-1021} << kIndexBits;

void exp_reduce(double x, double& kd, int64_t& k) {
    kd = (x * tables::kInvStep + kRoundingShift) - kRoundingShift;
    k = static_cast<int64_t>(kd);
}

// T_j * exp(r) as hi + lo (not normalized: |lo| < 2^-20 hi), relative error about 2^-70.5.
double exp_approximation(double x, double kd, int64_t k, double& lo_out) {
    const double t1 = x - kd * tables::kStepHi;  // exact (Sterbenz; k*S_hi exact)
    const double p = kd * tables::kStepLo;
    const double r = t1 - p;
    const double r_lo = (t1 - r) - p;  // r's rounding error; exact when |t1| >= |p|
    const double r_hi = (r + kSplitR) - kSplitR;
    const double r_rest = (r - r_hi) + r_lo;

    const double rr = r * r;
    const double q = rr * ((0.5 + (1.0 / 6.0) * r) + rr * (1.0 / 24.0 + (1.0 / 120.0) * r));

    const tables::ExpEntry& t = tables::kExp[k & kIndex];
    const double t_hi = t.hi;
    const double hi_low = t.hi - t.hi_high;  // exact
    const double p_hi = t.hi_high * r_hi;    // exact: 26 + 27 bits
    const double s_hi = t_hi + p_hi;
    const double s_lo = p_hi - (s_hi - t_hi);
    lo_out = s_lo + (t.lo + ((hi_low * r_hi + t_hi * (r_rest + q)) + t.lo * r));
    return s_hi;
}

// v * 2^K for -1022 <= K <= 1024, exact unless the product overflows.
double scale_by_power_of_two(double v, int64_t big_k) {
    if (big_k > 1023) {
        return v * 2.0 * from_bits(uint64_t{2046} << 52);
    }
    return v * from_bits(static_cast<uint64_t>(big_k + 1023) << 52);
}

// ---------------------------------------------------------------------------------------------
// log

struct LogReduction {
    int exponent;  // e', with 2c in place of c from kLogUpperStart on
    int index;     // i
    double z;      // m * c_i - 1, exact
};

// For x positive and normal, given by its bits; `adjust` is subtracted from the exponent of a
// subnormal argument scaled up by 2^54.
LogReduction log_reduce(uint64_t bits, int adjust) {
    LogReduction r{};
    r.index = static_cast<int>((bits >> (52 - kIndexBits)) & kIndex);
    r.exponent =
        static_cast<int>(bits >> 52) - 1023 - adjust + (r.index >= tables::kLogUpperStart ? 1 : 0);
    const double m = from_bits((bits & kFractionBits) | kOne);
    const double m_hi = from_bits((bits & kIndexFraction) | kOne);
    const double c = tables::kLog[r.index].c;
    r.z = (m_hi * c - 1.0) + (m - m_hi) * c;
    return r;
}

// log x as hi + lo (not normalized: |lo| < 2^-19 |hi|), relative error about 2^-69.
double log_approximation(const LogReduction& r, double& lo_out) {
    const tables::LogEntry& t = tables::kLog[r.index];
    const double ed = r.exponent;
    const double a_hi = ed * tables::kLn2Hi;  // exact: |e'| < 2^11, kLn2Hi has 42 bits
    const double s_hi = a_hi + t.minus_log_hi;
    const double s_lo = t.minus_log_hi - (s_hi - a_hi);  // |a_hi| > |minus_log_hi| or a_hi = 0

    // -z^2/2 = h_hi + h_lo, h_hi exact from the 26-bit z_hi.
    const double z = r.z;
    const double z_hi = (z + kSplitZ) - kSplitZ;
    const double z_lo = z - z_hi;
    const double h_hi = -0.5 * (z_hi * z_hi);
    const double h_lo = -0.5 * (z_lo * (z + z_hi));
    const double zz = z * z;
    const double poly =
        (1.0 / 3.0 - 0.25 * z) + zz * ((0.2 - (1.0 / 6.0) * z) + zz * (1.0 / 7.0 - 0.125 * z));
    const double cubic = z * zz * poly;

    const double u_hi = z + h_hi;  // Fast2Sum: |z| > |h_hi|
    const double u_lo = h_hi - (u_hi - z);
    // Fast2Sum: s_hi = 0, or |s_hi| > |u_hi| (checked by the table generator for e' = 0).
    const double v_hi = s_hi + u_hi;
    const double v_lo = u_hi - (v_hi - s_hi);
    lo_out = v_lo + ((s_lo + (u_lo + (h_lo + cubic))) + (ed * tables::kLn2Lo + t.minus_log_lo));
    return v_hi;
}

}  // namespace

namespace correctly_rounded_detail {

double exp_accurate(double x) {
    const uint64_t b = bits_of(x);
    const uint64_t m = (b & kFractionBits) | (uint64_t{1} << 52);
    const int shift = static_cast<int>((b >> 52) & 0x7ff) - 1075 + 256;  // 150..213 here
    Wide xw{};
    xw.w[shift / 64] = m << (shift % 64);
    if (shift % 64 != 0) {
        xw.w[shift / 64 + 1] = m >> (64 - shift % 64);
    }
    if (x < 0) {
        xw = negate(xw);
    }

    // k = floor(x / (ln2/512)), so that 0 <= r < ln2/512 and every term below is positive.
    const Wide step = wide_from(tables::kStepWide);
    const double estimate = x * tables::kInvStep;
    int64_t k = static_cast<int64_t>(estimate);
    if (static_cast<double>(k) > estimate) {
        --k;
    }
    Wide r = subtract(xw, multiply_signed(step, k));
    while (is_negative(r) || !less_unsigned(r, step)) {
        k += is_negative(r) ? -1 : 1;
        r = subtract(xw, multiply_signed(step, k));
    }

    Wide sum = wide_from(tables::kInverseFactorial[tables::kExpTerms]);
    for (int n = tables::kExpTerms - 1; n >= 0; --n) {
        sum = add(multiply(sum, r), wide_from(tables::kInverseFactorial[n]));
    }
    const Wide result = multiply(wide_from(tables::kExpWide[k & kIndex]), sum);
    return round_wide(result, static_cast<int>(k >> kIndexBits), false);
}

double log_accurate(double x) {
    uint64_t b = bits_of(x);
    int adjust = 0;
    if (b < (uint64_t{1} << 52)) {
        b = bits_of(x * 0x1p54);
        adjust = 54;
    }
    const LogReduction red = log_reduce(b, adjust);
    const double magnitude_z = red.z < 0 ? -red.z : red.z;
    const auto z_units = static_cast<uint64_t>(magnitude_z * 0x1p62);  // exact: |z| = n 2^-62

    // log(1+z) = z (1 - z (1/2 - z (1/3 - ...))) for z > 0 and
    // -|z| (1 + |z| (1/2 + |z| (1/3 + ...))) for z < 0: every partial sum is positive.
    Wide sum = wide_from(tables::kInverse[tables::kLogTerms]);
    for (int n = tables::kLogTerms - 1; n >= 1; --n) {
        const Wide term = shift_right(multiply_small(sum, z_units), kZUnitBits);
        const Wide inverse = wide_from(tables::kInverse[n]);
        sum = red.z > 0 ? subtract(inverse, term) : add(inverse, term);
    }
    Wide log1p = shift_right(multiply_small(sum, z_units), kZUnitBits);
    if (red.z < 0) {
        log1p = negate(log1p);
    }

    Wide table = wide_from(tables::kLogWide[red.index]);
    if (red.index >= tables::kLogUpperStart) {
        table = negate(table);
    }
    const Wide total =
        add(add(multiply_signed(wide_from(tables::kLn2Wide), red.exponent), table), log1p);
    const bool negative = is_negative(total);
    return round_wide(negative ? negate(total) : total, 0, negative);
}

double exp_fast_approximation(double x, double& lo) {
    double kd = 0.0;
    int64_t k = 0;
    exp_reduce(x, kd, k);
    const double hi = exp_approximation(x, kd, k, lo);
    const double scale = from_bits(static_cast<uint64_t>((k >> kIndexBits) + 1023) << 52);
    lo *= scale;
    return hi * scale;
}

double log_fast_approximation(double x, double& lo) {
    return log_approximation(log_reduce(bits_of(x), 0), lo);
}

double exp_first_approximation(double x, double& lo) {
    double scale = 0.0;
    const double hi = exp_first(x, lo, scale);
    lo *= scale;
    return hi * scale;
}

double log_first_approximation(double x, double& lo) {
    return log_first(bits_of(x), lo);
}

}  // namespace correctly_rounded_detail

namespace correctly_rounded_detail {

double exp_second(double x) {
    if (x != x) {
        return x + x;
    }
    if (x > kExpOverflow) {
        return kInfinity;
    }
    if (x < kExpUnderflow) {
        return 0.0;
    }
    if ((bits_of(x) & ~(uint64_t{1} << 63)) < bits_of(kExpNearZero)) {
        return 1.0;
    }
    double kd = 0.0;
    int64_t k = 0;
    exp_reduce(x, kd, k);
    if (k < kExpLowestFastK) {
        return correctly_rounded_detail::exp_accurate(x);
    }
    double lo = 0.0;
    const double hi = exp_approximation(x, kd, k, lo);
    const double bound = hi * correctly_rounded_detail::kExpFastErrorBound;
    const double low_end = hi + (lo - bound);
    if (low_end != hi + (lo + bound)) {
        return correctly_rounded_detail::exp_accurate(x);
    }
    return scale_by_power_of_two(low_end, k >> kIndexBits);
}

double log_second(double x) {
    uint64_t b = bits_of(x);
    int adjust = 0;
    // Not a positive normal number: zero, subnormal, negative, infinite or NaN.
    if (b - (uint64_t{1} << 52) >= 0x7ff0000000000000u - (uint64_t{1} << 52)) {
        if (x != x) {
            return x + x;
        }
        if (x == 0.0) {
            return -kInfinity;
        }
        if (x < 0.0) {
            return std::numeric_limits<double>::quiet_NaN();
        }
        if (x == kInfinity) {
            return x;
        }
        b = bits_of(x * 0x1p54);
        adjust = 54;
    }
    if (b == kOne) {
        return 0.0;
    }
    double lo = 0.0;
    const double hi = log_approximation(log_reduce(b, adjust), lo);
    const double bound = (hi < 0 ? -hi : hi) * correctly_rounded_detail::kLogFastErrorBound;
    const double low_end = hi + (lo - bound);
    if (low_end != hi + (lo + bound)) {
        return correctly_rounded_detail::log_accurate(x);
    }
    return low_end;
}

}  // namespace correctly_rounded_detail

}  // namespace eqsim
