#!/usr/bin/env python3
"""Writes src/engine/numeric/correctly_rounded_tables.h, the constants of cr_exp and cr_log.

Every value is computed with Python's decimal module at 120 significant digits (about 400 bits;
Decimal.exp and Decimal.ln are correctly rounded at the context's precision) and converted to
binary with exact integer and rational arithmetic, so no value depends on the C library of the
machine that runs this script. Rerun from the repository root:

    python3 src/engine/numeric/tools/make_correctly_rounded_tables.py > src/engine/numeric/correctly_rounded_tables.h

The output is the same bytes on every run.
"""

import decimal
import math
from decimal import Decimal
from fractions import Fraction

decimal.getcontext().prec = 120
D = Decimal

TABLE_BITS = 9
N = 1 << TABLE_BITS             # table entries of both functions
LOG_UPPER_START = 212           # from 1 + 212/512 (just below sqrt 2) on, log uses x/2 and 2c
WIDE_FRAC_BITS = 256            # fraction bits of the accurate path's fixed-point numbers
EXP_TERMS = 22                  # 1/n! for n = 0..EXP_TERMS
LOG_TERMS = 30                  # 1/n for n = 1..LOG_TERMS

LN2 = D(2).ln()


def to_fraction(d):
    return Fraction(d)          # exact: a Decimal is a terminating decimal


def nearest_double(q):
    """The double nearest to the rational q (ties to even), by exact arithmetic."""
    q = Fraction(q)
    if q == 0:
        return 0.0
    sign = -1.0 if q < 0 else 1.0
    q = abs(q)
    e = q.numerator.bit_length() - q.denominator.bit_length()
    if Fraction(2) ** e > q:
        e -= 1
    # q in [2^e, 2^(e+1)): 53 significant bits mean units of 2^(e-52)
    scaled = q / Fraction(2) ** (e - 52)
    m = math.floor(scaled)
    rest = scaled - m
    if rest > Fraction(1, 2) or (rest == Fraction(1, 2) and m % 2 == 1):
        m += 1
    return sign * math.ldexp(float(m), e - 52)   # m < 2^54: exact in a double


def round_to_bits(value, bits):
    """value rounded to nearest with at most `bits` significant bits (a double)."""
    m, e = math.frexp(value)
    return math.ldexp(float(round(m * (1 << bits))), e - bits)


def wide(q, frac_bits=WIDE_FRAC_BITS):
    """Nonnegative rational q as five 64-bit limbs of round(q * 2^frac_bits), lowest first."""
    q = Fraction(q)
    assert q >= 0
    n = math.floor(q * (1 << frac_bits) + Fraction(1, 2))
    limbs = [(n >> (64 * i)) & ((1 << 64) - 1) for i in range(5)]
    assert n >> 320 == 0
    return limbs


def hexd(x):
    return float.hex(x)


def wide_literal(limbs):
    return "{" + ", ".join("0x%016xu" % w for w in limbs) + "}"


def exp_tables():
    fast, accurate = [], []
    for j in range(N):
        t = to_fraction((LN2 * j / N).exp())
        hi = nearest_double(t)
        lo = nearest_double(t - Fraction(hi))
        hh = round_to_bits(hi, 26)
        hl = hi - hh
        assert Fraction(hh) + Fraction(hl) == Fraction(hi)
        fast.append((hi, lo, hh))
        accurate.append(wide(t))
    return fast, accurate


def log_tables():
    fast, accurate = [], []
    for i in range(N):
        a = Fraction(N + i, N)                   # the interval [a, b) of mantissas with index i
        b = Fraction(N + i + 1, N)
        if i == 0:
            k = 2 * N                            # c = 1: no table term for x just above 1
        else:
            k = round(Fraction(4 * N * N, N * (a + b)))   # c = k / 2N nearest to 2 / (a + b)
        c = Fraction(k, 2 * N)
        assert k <= 2 * N and (k < 2 * N or i == 0)      # at most 9 significant bits
        z_low = a * c - 1
        z_high = (b - Fraction(1, 1 << 52)) * c - 1
        z_max = max(abs(z_low), abs(z_high))
        assert z_max <= Fraction(1, N), i
        upper = i >= LOG_UPPER_START
        scale = 2 if upper else 1
        value = -(D(c.numerator * scale) / D(c.denominator)).ln()
        q = to_fraction(value)
        assert (q >= 0) != upper or q == 0, i
        # hi on the grid of ln2_hi (multiples of 2^-42), so that e' ln2_hi + hi is exact.
        hi = float(Fraction(round(q * (1 << 42)), 1 << 42))
        lo = nearest_double(q - Fraction(hi))
        assert abs(Fraction(lo)) <= Fraction(1, 1 << 43), i
        # For x in [1/2, 2) (e' = 0) both paths add log(1 + z) to -log c by Fast2Sum, exact
        # when the table term is 0 or larger than |z - z^2/2|.
        assert hi == 0 or abs(Fraction(hi)) > z_max * (1 + z_max), i
        if hi != 0:
            # The first step's largest error, half an ulp of z^2, is relative to |log x|:
            # z_max^2 / (2 min |log x|) over the index's interval stays below 2^-11 (the
            # largest, 2^-11.006, at i = 510).
            lowest = a if not upper else (b - Fraction(1, 1 << 52)) / 2
            min_log = abs(to_fraction((D(lowest.numerator) / D(lowest.denominator)).ln()))
            assert z_max * z_max / (2 * min_log) < Fraction(1, 1 << 11), i
        fast.append((float(c), hi, lo))
        accurate.append(wide(abs(q)))
    assert fast[N - 1][0] == 0.5 and fast[N - 1][1] == 0.0   # x just below 1: no table term
    return fast, accurate


def main():
    ln2 = to_fraction(LN2)
    ln2_hi = round_to_bits(nearest_double(ln2), 42)
    ln2_lo = nearest_double(ln2 - Fraction(ln2_hi))
    step = ln2 / N
    step_hi = round_to_bits(nearest_double(step), 33)
    step_lo = nearest_double(step - Fraction(step_hi))
    inv_step = nearest_double(1 / step)
    exp_fast, exp_wide = exp_tables()
    log_fast, log_wide = log_tables()

    out = []
    w = out.append
    w("// Generated by src/engine/numeric/tools/make_correctly_rounded_tables.py; do not edit. Constants of")
    w("// cr_exp and cr_log (correctly_rounded.cpp): double and double-double values rounded to")
    w("// nearest from 120-digit decimal arithmetic, and 256-bit fixed-point values (five 64-bit")
    w("// limbs, lowest first, the last one the integer part) for the accurate path.")
    w("#pragma once")
    w("")
    w("#include <cstdint>")
    w("")
    w("namespace eqsim::correctly_rounded_tables {")
    w("")
    w("inline constexpr int kTableBits = %d;" % TABLE_BITS)
    w("inline constexpr int kLogUpperStart = %d;  // log indices from here use 2c in place of c" % LOG_UPPER_START)
    w("inline constexpr int kExpTerms = %d;" % EXP_TERMS)
    w("inline constexpr int kLogTerms = %d;" % LOG_TERMS)
    w("")
    w("// ln 2 = kLn2Hi + kLn2Lo, kLn2Hi with 42 significant bits.")
    w("inline constexpr double kLn2Hi = %s;" % hexd(ln2_hi))
    w("inline constexpr double kLn2Lo = %s;" % hexd(ln2_lo))
    w("// ln 2 / %d = kStepHi + kStepLo, kStepHi with 33 significant bits; kInvStep = %d / ln 2." % (N, N))
    w("inline constexpr double kStepHi = %s;" % hexd(step_hi))
    w("inline constexpr double kStepLo = %s;" % hexd(step_lo))
    w("inline constexpr double kInvStep = %s;" % hexd(inv_step))
    w("")
    w("struct ExpEntry {")
    w("    double hi;       // 2^(j/%d) = hi + lo, both rounded to nearest" % N)
    w("    double lo;")
    w("    double hi_high;  // hi rounded to 26 significant bits: hi - hi_high is exact")
    w("};")
    w("inline constexpr ExpEntry kExp[%d] = {" % N)
    for hh, hl, lo in exp_fast:
        w("    {%s, %s, %s}," % (hexd(hh), hexd(hl), hexd(lo)))
    w("};")
    w("")
    w("struct LogEntry {")
    w("    double c;             // about 1/m on the index's interval, a multiple of 2^-%d" % (TABLE_BITS + 1))
    w("    double minus_log_hi;  // -log(c), or -log(2c) from kLogUpperStart on, as hi + lo;")
    w("    double minus_log_lo;  // hi is a multiple of 2^-42 (as kLn2Hi), |lo| <= 2^-43")
    w("};")
    w("inline constexpr LogEntry kLog[%d] = {" % N)
    for c, hi, lo in log_fast:
        w("    {%s, %s, %s}," % (hexd(c), hexd(hi), hexd(lo)))
    w("};")
    w("")
    w("using Wide = std::uint64_t[5];")
    w("inline constexpr Wide kLn2Wide = %s;" % wide_literal(wide(ln2)))
    w("inline constexpr Wide kStepWide = %s;" % wide_literal(wide(step)))
    w("// 2^(j/%d)." % N)
    w("inline constexpr Wide kExpWide[%d] = {" % N)
    for limbs in exp_wide:
        w("    %s," % wide_literal(limbs))
    w("};")
    w("// |kLog[i]'s minus_log|: nonnegative below kLogUpperStart, nonpositive from it on.")
    w("inline constexpr Wide kLogWide[%d] = {" % N)
    for limbs in log_wide:
        w("    %s," % wide_literal(limbs))
    w("};")
    w("// 1/n! for n = 0..kExpTerms.")
    w("inline constexpr Wide kInverseFactorial[%d] = {" % (EXP_TERMS + 1))
    for n in range(EXP_TERMS + 1):
        w("    %s," % wide_literal(wide(Fraction(1, math.factorial(n)))))
    w("};")
    w("// 1/n for n = 0..kLogTerms (entry 0 unused).")
    w("inline constexpr Wide kInverse[%d] = {" % (LOG_TERMS + 1))
    w("    %s," % wide_literal([0] * 5))
    for n in range(1, LOG_TERMS + 1):
        w("    %s," % wide_literal(wide(Fraction(1, n))))
    w("};")
    w("")
    w("}  // namespace eqsim::correctly_rounded_tables")
    print("\n".join(out))


if __name__ == "__main__":
    main()
