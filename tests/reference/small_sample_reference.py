#!/usr/bin/env python3
"""Expected values of circle-arc equating and synthetic linking for
tests/engine/equating/small_sample_equating_test.cpp, computed by a separate route.

The formulas are taken as published (Livingston and Kim, 2009; Kim, von Davier and Haberman,
2008), not as the program rearranges them: the circle's centre and radius are formed and the arc
is y_c + sign(d) sqrt(r^2 - (x - x_c)^2). The samples are integer counts, every mean and variance
is an exact fraction and the square roots are taken to 50 digits, so the printed values are
correct to their last digit. The output is the C++ table the test holds.

    python3 tests/reference/small_sample_reference.py
"""
from decimal import Decimal, getcontext
from fractions import Fraction

getcontext().prec = 50

# (name, new-form counts, old-form counts, synthetic weight)
CASES = [
    # 31 new-form points, none empty; 41 old-form points, 14 empty. The middle point lies below
    # the identity line (d < 0).
    ("new31_old41", [1, 1, 2, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 12, 13, 13, 13, 12, 11, 10, 8,
                     7, 6, 5, 4, 3, 2, 2, 1, 1],
     [0, 0, 1, 0, 1, 1, 2, 0, 2, 3, 2, 3, 4, 3, 4, 5, 4, 3, 4, 5, 3, 4, 2, 3, 2, 1, 2, 0, 1, 1,
      0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0], Fraction(3, 10)),
    # 41 new-form points, 12 empty; 31 old-form points, none empty. Above the line (d > 0).
    ("new41_old31", [0, 0, 0, 1, 0, 1, 1, 1, 2, 1, 3, 2, 3, 4, 3, 5, 4, 4, 5, 3, 4, 3, 5, 2, 3,
                     2, 2, 1, 2, 1, 0, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0],
     [1, 1, 1, 2, 2, 3, 3, 4, 5, 5, 6, 7, 7, 8, 8, 9, 9, 8, 8, 7, 7, 6, 5, 5, 4, 4, 3, 2, 2, 1,
      1], Fraction(3, 4)),
]


def dec(value):
    return Decimal(value.numerator) / Decimal(value.denominator)


def sqrt(value):
    return dec(value).sqrt()


def moments(counts):
    n = sum(counts)
    mean = Fraction(sum(i * c for i, c in enumerate(counts)), n)
    variance = sum(Fraction(c, n) * (i - mean) ** 2 for i, c in enumerate(counts))
    return mean, variance


def identity(x, kx, ky):
    x_min, x_max, y_min, y_max = 0, kx - 1, 0, ky - 1
    return y_min + Fraction(y_max - y_min) * (x - x_min) / (x_max - x_min)


def circle_arc(new, old):
    kx, ky = len(new), len(old)
    x_min, x_max = 0, kx - 1
    mu_x, _ = moments(new)
    mu_y, _ = moments(old)
    d = mu_y - identity(mu_x, kx, ky)
    assert d != 0 and x_min < mu_x < x_max
    x_c = Fraction(x_min + x_max, 2)
    y_c = (d * d + (mu_x - x_c) ** 2 - (x_max - x_c) ** 2) / (2 * d)
    assert y_c * d <= 0, "the middle point is beyond the semicircle"
    r_squared = (x_max - x_c) ** 2 + y_c ** 2
    sign = 1 if d > 0 else -1
    return [dec(identity(x, kx, ky)) + dec(y_c) + sign * sqrt(r_squared - (x - x_c) ** 2)
            for x in range(kx)]


def linear(new, old):
    mu_x, var_x = moments(new)
    mu_y, var_y = moments(old)
    slope = sqrt(var_y / var_x)
    return [dec(mu_y) + slope * dec(x - mu_x) for x in range(len(new))]


def synthetic(new, old, weight):
    kx, ky = len(new), len(old)
    w = dec(weight)
    return [w * lin + (1 - w) * dec(identity(x, kx, ky)) for x, lin in enumerate(linear(new, old))]


def cpp_list(values, indent):
    # A value is printed as the double nearest to it, in the fewest digits that give that double.
    items = [repr(float(v)) if isinstance(v, Decimal) else str(v) for v in values]
    lines, line = [], ""
    for item in items:
        if len(line) + len(item) + 2 > 96 - indent:
            lines.append(line.rstrip())
            line = ""
        line += item + ", "
    lines.append(line.rstrip().rstrip(","))
    return "{" + ("\n" + " " * indent).join(lines) + "}"


def main():
    for name, new, old, weight in CASES:
        print(f"    {{\"{name}\",")
        print(f"     {cpp_list(new, 6)},")
        print(f"     {cpp_list(old, 6)},")
        print(f"     {weight.numerator}.0 / {weight.denominator}.0,")
        print(f"     {cpp_list(circle_arc(new, old), 6)},")
        print(f"     {cpp_list(synthetic(new, old, weight), 6)}}},")


if __name__ == "__main__":
    main()
