#!/usr/bin/env python3
"""Kernel equating with a Gaussian kernel, written again from the formulas, to check
kernel_equate (src/engine/equating/kernel_equating.cpp) by a separate route.

Nothing here follows the C++ code's arithmetic:
  - the log-linear fit is Newton's method on the Poisson likelihood in 40-digit mpmath
    arithmetic, on powers of the standardised score. Kernel equating uses the very fit
    pre-smoothing uses, which stops short of full convergence (once the deviance changes by less
    than 0.001: at degree 6 on the example the fitted probabilities are then up to 4e-5,
    relatively, from the converged ones, which moves equated scores by about 1e-5), so this fit
    starts and stops by the same rule; the two fits then agree to about 1e-12;
  - Phi and phi are 0.5 erfc(-z / sqrt 2) and exp(-z^2/2) / sqrt(2 pi) from Python's math module,
    and every sum runs in index order;
  - the bandwidth search follows the same pinned rule (200 grid points 0.01 * 2000^(i/199), the
    smallest PEN1, then golden-section search on its neighbours to a bracket of 1e-10 h);
  - each new-form score x is equated by bisection to 1e-13 on the smaller tail: G(y) = F(x) when
    F(x) <= 1/2, otherwise 1 - G(y) = 1 - F(x), with both tails summed directly.
The program's results must agree with these to 1e-7 (the C++ test
KernelEquating.AgreesWithTheIndependentReference); most agree to about 1e-9, the bandwidths being
fixed only to the flatness of PEN1 at its minimum.

The cases: the bundled example (examples/actmath.dat, columns 1 and 2, sizes their totals) at
degrees 3 and 6, and a 21-point distribution with empty scores at degrees 4 and 3. Rerun from the
repository's top folder (takes under a minute):

    python3 tests/reference/kernel_reference.py

It prints each case's bandwidths and equated scores in the form the C++ test holds them.
"""
import math
import os

import mpmath as mp

mp.mp.dps = 40
TOP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")

# A distribution of our own with empty scores inside and at both ends (counts, 21 points).
EMPTY_NEW = [0, 2, 0, 5, 11, 0, 24, 31, 40, 0, 52, 47, 39, 0, 28, 20, 0, 9, 4, 0, 0]
EMPTY_OLD = [1, 0, 4, 8, 0, 19, 27, 0, 45, 50, 44, 0, 33, 25, 18, 0, 10, 6, 0, 2, 0]


def loglinear_fit(counts, degree):
    """Fitted frequencies of the degree-`degree` log-linear model: Newton's method on the Poisson
    likelihood (as iteratively reweighted least squares), started like the program's fit from the
    observed counts (half an examinee for an empty score) and stopped like it once the deviance
    changes by less than 0.001, at most 30 steps."""
    k = len(counts)
    degree = min(degree, k - 1)
    y = [mp.mpf(c) for c in counts]
    if degree >= k - 1:
        return y
    centre = mp.mpf(k - 1) / 2
    spread = mp.mpf(k - 1) / 2
    rows = [[((j - centre) / spread) ** p for p in range(degree + 1)] for j in range(k)]

    def weighted_least_squares(response, weights):
        n = degree + 1
        normal = mp.matrix(n, n)
        right = mp.matrix(n, 1)
        for p in range(n):
            right[p] = sum(weights[j] * rows[j][p] * response[j] for j in range(k))
            for q in range(n):
                normal[p, q] = sum(weights[j] * rows[j][p] * rows[j][q] for j in range(k))
        beta = mp.lu_solve(normal, right)
        return [sum(beta[p] * rows[j][p] for p in range(n)) for j in range(k)]

    def deviance(m):
        return 2 * sum((y[j] * mp.log(y[j] / m[j]) if y[j] != 0 else 0) - (y[j] - m[j])
                       for j in range(k))

    response = [mp.log(v) if v != 0 else mp.log(mp.mpf(1) / 2) for v in y]
    eta = weighted_least_squares(response, [mp.exp(v) for v in response])
    m = [mp.exp(v) for v in eta]
    previous = deviance(m)
    for _ in range(30):
        response = [eta[j] + (y[j] - m[j]) / m[j] for j in range(k)]
        eta = weighted_least_squares(response, m)
        m = [mp.exp(v) for v in eta]
        current = deviance(m)
        if abs(current - previous) < mp.mpf("0.001"):
            break
        previous = current
    return m


def probabilities(counts, degree):
    fitted = loglinear_fit(counts, degree)
    total = sum(fitted)
    return [float(m / total) for m in fitted]


class Continuized:
    def __init__(self, r, h):
        self.r = r
        self.mu = sum(j * p for j, p in enumerate(r))
        self.var = sum((j - self.mu) ** 2 * p for j, p in enumerate(r))
        self.a = math.sqrt(self.var / (self.var + h * h))
        self.s = self.a * h
        self.centres = [self.a * j + (1 - self.a) * self.mu for j in range(len(r))]

    def density(self, x):
        return sum(p * math.exp(-0.5 * ((x - c) / self.s) ** 2)
                   for p, c in zip(self.r, self.centres)) / (self.s * math.sqrt(2 * math.pi))

    def lower(self, x):
        return sum(p * 0.5 * math.erfc(-(x - c) / (self.s * math.sqrt(2)))
                   for p, c in zip(self.r, self.centres))

    def upper(self, x):
        return sum(p * 0.5 * math.erfc((x - c) / (self.s * math.sqrt(2)))
                   for p, c in zip(self.r, self.centres))


def pen1(r, h):
    c = Continuized(r, h)
    return sum((r[j] - c.density(j)) ** 2 for j in range(len(r)))


def bandwidth(r):
    grid = [0.01 * 2000.0 ** (i / 199) for i in range(200)]
    values = [pen1(r, h) for h in grid]
    best = min(range(200), key=lambda i: (values[i], i))
    a, b = grid[max(best - 1, 0)], grid[min(best + 1, 199)]
    g = (math.sqrt(5) - 1) / 2
    c, d = b - g * (b - a), a + g * (b - a)
    fc, fd = pen1(r, c), pen1(r, d)
    while b - a >= 1e-10 * (a + b) / 2:
        if fc <= fd:
            b, d, fd = d, c, fc
            c = b - g * (b - a)
            fc = pen1(r, c)
        else:
            a, c, fc = c, d, fd
            d = a + g * (b - a)
            fd = pen1(r, d)
    return (a + b) / 2


def equate(cx, cy):
    lo0 = cy.centres[0] - 40 * cy.s
    hi0 = cy.centres[-1] + 40 * cy.s
    out = []
    for x in range(len(cx.r)):
        f = cx.lower(x)
        if f <= 0.5:
            above = lambda y: cy.lower(y) > f
        else:
            u = cx.upper(x)
            above = lambda y: cy.upper(y) < u
        lo, hi = lo0, hi0
        while hi - lo > 1e-13:
            mid = (lo + hi) / 2
            if mid in (lo, hi):
                break
            if above(mid):
                hi = mid
            else:
                lo = mid
        out.append((lo + hi) / 2)
    return out


def kernel_equate(new_counts, old_counts, degree_x, degree_y):
    rx = probabilities(new_counts, degree_x)
    ry = probabilities(old_counts, degree_y)
    hx, hy = bandwidth(rx), bandwidth(ry)
    return hx, hy, equate(Continuized(rx, hx), Continuized(ry, hy))


def main():
    new, old = [], []
    with open(os.path.join(TOP, "examples", "actmath.dat")) as f:
        for line in f:
            fields = line.split()
            new.append(float(fields[0]))
            old.append(float(fields[1]))
    cases = [("actmath, degree 3", new, old, 3, 3),
             ("actmath, degree 6", new, old, 6, 6),
             ("empty scores, degrees 4 and 3", EMPTY_NEW, EMPTY_OLD, 4, 3)]
    for name, nx, ny, qx, qy in cases:
        hx, hy, e = kernel_equate(nx, ny, qx, qy)
        print("// %s: hx = %.10f, hy = %.10f" % (name, hx, hy))
        print("{" + ", ".join("%.10f" % v for v in e) + "},")


if __name__ == "__main__":
    main()
