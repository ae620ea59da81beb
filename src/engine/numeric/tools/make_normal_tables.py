#!/usr/bin/env python3
"""Writes src/engine/numeric/normal_tables.h, the constants of normal_cdf and normal_pdf.

normal_cdf writes the upper tail of the standard normal distribution as
    Q(x) = e^(-x^2/2) M(x),  M(x) = Q(x) e^(x^2/2) = R(x) / sqrt(2 pi),
R being Mills' ratio. M is smooth and slowly varying (M(0) = 1/2, M(x) ~ 1/(x sqrt(2 pi)) for
large x), so on [0, 40] it is approximated piecewise by polynomials in t = x - centre:
    [0, 1)    eight intervals of width 1/8; the first expanded about 0, the others about their
              midpoints;
    [1, 64)   eight intervals per binade, [2^e (1 + m/8), 2^e (1 + (m+1)/8)), expanded about their
              midpoints (the table stops at the interval holding 40).
On each interval M(centre + t) is interpolated at the 13 Chebyshev points of the interval (degree
12; L. N. Trefethen, "Approximation Theory and Approximation Practice", SIAM 2013, chapters 2-4:
near-best approximation with error about that of the best), and the interpolant is rewritten
in powers of t by solving its Vandermonde system at 80 digits. The constant term is kept as a
double-double (m_hi + m_lo), the others as doubles: the C++ code adds the small part
m_lo + t P(t) (at most 11 % of M) to m_hi only inside the final product, so the rounding of a
polynomial evaluation costs a tenth of an ulp or less.

Every value is computed with mpmath at 80 significant digits and rounded to double once, and
the script checks, before it writes anything, that each interval's polynomial with its rounded
coefficients (evaluated exactly) is within 2^-62 of M relative to M at 400 points, and that the
small part stays below 11 % of M. Rerun from the repository root:

    python3 src/engine/numeric/tools/make_normal_tables.py > src/engine/numeric/normal_tables.h

The output is the same bytes on every run.
"""

import mpmath as mp

mp.mp.dps = 80

DEGREE = 12
PER_UNIT_BELOW_ONE = 8          # intervals of width 1/8 on [0, 1)
PER_BINADE = 8                  # intervals per binade from 1 on
X_MAX = 40                      # the last interval holds 40
CHECK_POINTS = 400
MAX_INTERPOLATION_ERROR = mp.mpf(2) ** -62
MAX_ROUNDED_ERROR = mp.mpf(2) ** -56
MAX_SMALL_PART = mp.mpf("0.11")


def upper_tail_ratio(x):
    """M(x) = Q(x) e^(x^2/2), Q the standard normal upper tail."""
    x = mp.mpf(x)
    return mp.erfc(x / mp.sqrt(2)) / 2 * mp.exp(x * x / 2)


def intervals():
    """(low, high, centre) of every interval, in table order."""
    out = []
    for i in range(PER_UNIT_BELOW_ONE):
        low = mp.mpf(i) / PER_UNIT_BELOW_ONE
        high = mp.mpf(i + 1) / PER_UNIT_BELOW_ONE
        # The first interval is expanded about 0, so that t = x exactly for tiny x.
        centre = mp.mpf(0) if i == 0 else (low + high) / 2
        out.append((low, high, centre))
    e = 0
    while True:
        for m in range(PER_BINADE):
            low = mp.mpf(2) ** e * (1 + mp.mpf(m) / PER_BINADE)
            high = mp.mpf(2) ** e * (1 + mp.mpf(m + 1) / PER_BINADE)
            out.append((low, high, (low + high) / 2))
            if low <= X_MAX < high:
                return out
        e += 1


def fit(low, high, centre):
    """Monomial coefficients a_0..a_DEGREE of the interpolant of M(centre + t), t in
    [low - centre, high - centre], at the Chebyshev points."""
    a, b = low - centre, high - centre
    n = DEGREE + 1
    nodes = [(a + b) / 2 + (b - a) / 2 * mp.cos(mp.pi * (k + mp.mpf(1) / 2) / n)
             for k in range(n)]
    vandermonde = mp.matrix(n, n)
    values = mp.matrix(n, 1)
    for i, t in enumerate(nodes):
        for j in range(n):
            vandermonde[i, j] = t ** j
        values[i] = upper_tail_ratio(centre + t)
    solution = mp.lu_solve(vandermonde, values)
    return [solution[j] for j in range(n)]


def check(low, high, centre, exact_coefficients, m_hi, m_lo, coefficients):
    """Largest relative errors of the interpolant and of its rounded coefficients on the
    interval; asserts both bounds and the size of the small part."""
    worst_exact = mp.mpf(0)
    worst_rounded = mp.mpf(0)
    for k in range(CHECK_POINTS + 1):
        x = low + (high - low) * k / CHECK_POINTS
        t = x - centre
        exact = upper_tail_ratio(x)
        interpolant = mp.mpf(0)
        for c in reversed(exact_coefficients):
            interpolant = interpolant * t + c
        small = mp.mpf(0)
        for c in reversed(coefficients):
            small = small * t + mp.mpf(c)
        small = mp.mpf(m_lo) + t * small
        worst_exact = max(worst_exact, abs(interpolant - exact) / exact)
        worst_rounded = max(worst_rounded, abs(mp.mpf(m_hi) + small - exact) / exact)
        assert abs(small) <= MAX_SMALL_PART * exact, (float(low), float(x))
    assert worst_exact <= MAX_INTERPOLATION_ERROR, (float(low), float(mp.log(worst_exact, 2)))
    assert worst_rounded <= MAX_ROUNDED_ERROR, (float(low), float(mp.log(worst_rounded, 2)))
    return worst_exact, worst_rounded


def double_double(v):
    hi = float(v)
    lo = float(v - mp.mpf(hi))
    return hi, lo


def main():
    rows = []
    worst_exact = mp.mpf(0)
    worst_rounded = mp.mpf(0)
    for low, high, centre in intervals():
        a = fit(low, high, centre)
        m_hi, m_lo = double_double(a[0])
        coefficients = [float(c) for c in a[1:]]
        e, r = check(low, high, centre, a, m_hi, m_lo, coefficients)
        worst_exact = max(worst_exact, e)
        worst_rounded = max(worst_rounded, r)
        rows.append((low, high, float(centre), m_hi, m_lo, coefficients))

    inv_sqrt_2pi_hi, inv_sqrt_2pi_lo = double_double(1 / mp.sqrt(2 * mp.pi))

    out = []
    w = out.append
    w("// Generated by src/engine/numeric/tools/make_normal_tables.py; do not edit. Constants of")
    w("// normal_cdf and normal_pdf (normal.cpp): 1/sqrt(2 pi) as a double-double, and the")
    w("// polynomials of M(x) = Q(x) e^(x^2/2) on [0, %d]. Largest relative error of an interpolant:" % X_MAX)
    w("// 2^%.1f; with its rounded coefficients, evaluated exactly: 2^%.1f." %
      (float(mp.log(worst_exact, 2)), float(mp.log(worst_rounded, 2))))
    w("#pragma once")
    w("")
    w("namespace eqsim::normal_tables {")
    w("")
    w("// 1/sqrt(2 pi) = kInvSqrtTwoPiHi + kInvSqrtTwoPiLo, both rounded to nearest.")
    w("inline constexpr double kInvSqrtTwoPiHi = %s;" % inv_sqrt_2pi_hi.hex())
    w("inline constexpr double kInvSqrtTwoPiLo = %s;" % inv_sqrt_2pi_lo.hex())
    w("")
    w("inline constexpr int kDegree = %d;" % DEGREE)
    w("inline constexpr int kIntervalsBelowOne = %d;  // of width 1/%d" % (PER_UNIT_BELOW_ONE, PER_UNIT_BELOW_ONE))
    w("inline constexpr int kIntervalsPerBinade = %d;  // from 1 on" % PER_BINADE)
    w("")
    w("// M(centre + t) = m_hi + (m_lo + t (p[0] + t (p[1] + ... + t p[kDegree - 1])))")
    w("struct TailEntry {")
    w("    double centre;")
    w("    double m_hi;")
    w("    double m_lo;")
    w("    double p[kDegree];")
    w("};")
    w("inline constexpr TailEntry kTail[%d] = {" % len(rows))
    for low, high, centre, m_hi, m_lo, coefficients in rows:
        w("    // [%s, %s)" % (mp.nstr(low, 8), mp.nstr(high, 8)))
        w("    {%s," % ", ".join(v.hex() for v in (centre, m_hi, m_lo)))
        hexes = [c.hex() for c in coefficients]
        lines = [", ".join(hexes[i:i + 3]) for i in range(0, len(hexes), 3)]
        w("     {" + (",\n      ".join(lines)) + "}},")
    w("};")
    w("")
    w("}  // namespace eqsim::normal_tables")
    print("\n".join(out))


if __name__ == "__main__":
    main()
