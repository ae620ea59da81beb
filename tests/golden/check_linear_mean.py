#!/usr/bin/env python3
"""Recomputes the golden reports of examples/linear.ctl and examples/mean.ctl by a separate route
and compares them with tests/golden/linear.txt and mean.txt.

Nothing here is shared with the program: the generator is modelled in Python integers, every
deviate is placed by exact integer comparison with the population's cumulative proportions,
the sample moments are exact fractions, the scale conversion is a plain piecewise-linear
interpolation and the standard deviations over replications are two-pass. Numbers agree when
they differ by at most 2e-8 (the report prints eight decimals); the histograms must be equal.

    python3 tests/golden/check_linear_mean.py      (from anywhere; takes about half a minute)
"""
import bisect
import math
import os
import statistics
import sys
from fractions import Fraction

TOP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
M = 2**31 - 1


class Generator:
    def __init__(self, seed):
        self.state = seed
        for _ in range(97):
            self.step()
        self.table = [self.step() for _ in range(97)]
        self.last = self.step()

    def step(self):
        self.state = 16807 * self.state % M
        return self.state

    def draw(self):
        slot = min(97 * self.last // M, 96)
        self.last = self.table[slot]
        self.table[slot] = self.step()
        return self.last


def settings(path):
    values = {}
    for line in open(path):
        if line.strip() and not line.startswith("#"):
            key, *rest = line.split()
            values[key] = rest
    return values


def sample(generator, cumulative, n):
    # A raw value r lands beyond score j when r / M > cumulative[j], that is when r reaches
    # floor(cumulative[j] * M) + 1, an exact integer.
    thresholds = [math.floor(c * M) + 1 for c in cumulative[:-1]]
    counts = [0] * len(cumulative)
    for _ in range(n):
        counts[bisect.bisect_right(thresholds, generator.draw())] += 1
    return counts


def moments(counts):
    n = sum(counts)
    mean = Fraction(sum(i * c for i, c in enumerate(counts)), n)
    variance = sum(c * (i - mean) ** 2 for i, c in enumerate(counts)) / n
    return mean, math.sqrt(variance)


def to_scale(x, table):
    j = min(max(math.floor(x), 0), len(table) - 2)
    return table[j] + (x - j) * (table[j + 1] - table[j])


def expected_report(control, rows):
    s = settings(control)
    mean_only = s["SM"][0].startswith("M")
    replications, seed = int(s["R"][0]), int(s["SE"][0])
    low, high, step = (float(v) for v in s["SC"])
    new = [float(r[0]) for r in rows]
    old = [float(r[1]) for r in rows]
    conversion = [float(r[2]) for r in rows]
    cumulative = {}
    for name, freq in (("new", new), ("old", old)):
        total = sum(Fraction(f) for f in freq)
        running, cumulative[name] = Fraction(0), []
        for f in freq:
            running += Fraction(f)
            cumulative[name].append(running / total)
    nx, ny = int(sum(new) + 0.5), int(sum(old) + 0.5)
    points = int(round((high - low) / step)) + 1
    generator = Generator(seed)
    columns = [[[] for _ in new] for _ in range(3)]
    histogram = [[0] * points for _ in new]
    for _ in range(replications):
        mx, sx = moments(sample(generator, cumulative["new"], nx))
        my, sy = moments(sample(generator, cumulative["old"], ny))
        for i in range(len(new)):
            e = float(i - mx + my) if mean_only else float(my) + sy / sx * float(i - mx)
            unrounded = to_scale(e, conversion)
            rounded = min(max(math.floor(unrounded / step + 0.5) * step, low), high)
            for column, value in zip(columns, (e, unrounded, rounded)):
                column[i].append(value)
            histogram[i][int(round((rounded - low) / step))] += 1
    table = []
    for i in range(len(new)):
        sds = [statistics.pstdev(c[i]) for c in columns]
        means = [statistics.fmean(c[i]) for c in columns]
        table.append(sds + means)
    weights = [f / sum(new) for f in new]
    summary = [sum(w * row[c] for w, row in zip(weights, table)) for c in range(6)]
    return table, summary, histogram


def check(example):
    control = os.path.join(TOP, "examples", example + ".ctl")
    data = os.path.join(TOP, settings(control)["I"][0])
    rows = [line.split() for line in open(data) if line.strip()]
    table, summary, histogram = expected_report(control, rows)
    lines = open(os.path.join(TOP, "tests", "golden", example + ".txt")).read().split("\n")
    start = lines.index("") + 1
    worst = 0.0
    for i, expected in enumerate(table + [summary]):
        got = [float(v) for v in lines[start + i].split("\t")[1:]]
        worst = max([worst] + [abs(a - b) for a, b in zip(got, expected)])
    golden_histogram = [[int(v) for v in line.split("\t")[1:]]
                        for line in lines[start + len(table) + 2:] if line]
    ok = worst <= 2e-8 and golden_histogram == histogram
    print(f"{example}: largest difference {worst:.2e}, histograms "
          f"{'equal' if golden_histogram == histogram else 'DIFFER'}: {'ok' if ok else 'FAILED'}")
    return ok


if __name__ == "__main__":
    sys.exit(0 if all([check("linear"), check("mean")]) else 1)
