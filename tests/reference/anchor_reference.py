#!/usr/bin/env python3
"""An independent computation of the anchor-test equating methods, written from their formulas
(Kolen and Brennan, 2014, "Test Equating, Scaling, and Linking", 3rd ed., chapters 4 and 5), for
the expected values of tests/engine/equating/anchor_equating_test.cpp.

Standard library only. Run from the repository's top folder:

    python3 tests/reference/anchor_reference.py > tests/engine/equating/anchor_reference_values.h
"""

import math
import sys

# Share of probability spread over every score of a distribution whose cumulative distribution has
# a flat step, as the unsmoothed method mixes it in.
UNIFORM_MASS = 1.0e-6


# ---- Equipercentile equating from the definition of percentile ranks ----


def shares(freq):
    total = sum(freq)
    return [f / total for f in freq]


def with_uniform_mass(p):
    """p itself, or p mixed with the uniform distribution when its cumulative distribution has a
    flat step: a score (other than the lowest) whose share leaves the running sum unchanged."""
    running = p[0]
    for share in p[1:]:
        if running + share == running:
            k = len(p)
            return [(1.0 - UNIFORM_MASS) * s + UNIFORM_MASS / k for s in p]
        running += share
    return p


def cumulative(p):
    out = []
    running = 0.0
    for share in p:
        running += share
        out.append(running)
    return out


def prepared(freq):
    return cumulative(with_uniform_mass(shares(freq)))


def percentile_rank(cum, score):
    """The share of the distribution below a real score, each whole score's share spread
    uniformly over its unit interval [s - 0.5, s + 0.5)."""
    k = len(cum)
    if score <= -0.5:
        return 0.0
    if score >= k - 0.5:
        return 1.0
    s = min(math.floor(score + 0.5), k - 1)
    below = cum[s - 1] if s > 0 else 0.0
    return below + (score - (s - 0.5)) * (cum[s] - below)


def score_at_rank(cum, rank):
    """The inverse of percentile_rank: within the first score whose cumulative share exceeds the
    rank (the top score when none does), the point where the rank is reached."""
    k = len(cum)
    s = next((i for i in range(k) if cum[i] > rank), k - 1)
    below = cum[s - 1] if s > 0 else 0.0
    width = cum[s] - below
    return s - 0.5 + ((rank - below) / width if width > 0 else 0.0)


def equipercentile(new_freq, old_freq):
    new_cum = prepared(new_freq)
    old_cum = prepared(old_freq)
    return [score_at_rank(old_cum, percentile_rank(new_cum, x)) for x in range(len(new_cum))]


# ---- One group's table ----


class Group:
    """Relative frequencies joint[t][v] over total scores t and anchor scores v."""

    def __init__(self, counts):
        n = sum(sum(row) for row in counts)
        self.joint = [[c / n for c in row] for row in counts]
        self.total = [sum(row) for row in self.joint]
        self.anchor = [sum(row[v] for row in self.joint) for v in range(len(counts[0]))]
        cells = [(t, v, p) for t, row in enumerate(self.joint) for v, p in enumerate(row)]
        self.mu_t = sum(t * p for t, v, p in cells)
        self.mu_v = sum(v * p for t, v, p in cells)
        self.var_t = sum((t - self.mu_t) ** 2 * p for t, v, p in cells)
        self.var_v = sum((v - self.mu_v) ** 2 * p for t, v, p in cells)
        self.cov = sum((t - self.mu_t) * (v - self.mu_v) * p for t, v, p in cells)


def linear(kx, mu_x, sd_x, mu_y, sd_y):
    return [mu_y + sd_y / sd_x * (x - mu_x) for x in range(kx)]


# ---- The methods ----


def synthetic_linear(p, q, w1, gamma1, gamma2):
    w2 = 1.0 - w1
    dmu = p.mu_v - q.mu_v
    dvar = p.var_v - q.var_v
    mu_x = p.mu_t - w2 * gamma1 * dmu
    mu_y = q.mu_t + w1 * gamma2 * dmu
    var_x = p.var_t - w2 * gamma1**2 * dvar + w1 * w2 * gamma1**2 * dmu**2
    var_y = q.var_t + w1 * gamma2**2 * dvar + w1 * w2 * gamma2**2 * dmu**2
    return linear(len(p.total), mu_x, math.sqrt(var_x), mu_y, math.sqrt(var_y))


def tucker(p, q, w1, internal):
    return synthetic_linear(p, q, w1, p.cov / p.var_v, q.cov / q.var_v)


def levine(p, q, w1, internal):
    if internal:
        gamma1 = p.var_t / p.cov
        gamma2 = q.var_t / q.cov
    else:
        gamma1 = (p.var_t + p.cov) / (p.var_v + p.cov)
        gamma2 = (q.var_t + q.cov) / (q.var_v + q.cov)
    return synthetic_linear(p, q, w1, gamma1, gamma2)


def chained_linear(p, q, w1, internal):
    to_anchor = linear(len(p.total), p.mu_t, math.sqrt(p.var_t), p.mu_v, math.sqrt(p.var_v))
    return [q.mu_t + math.sqrt(q.var_t) / math.sqrt(q.var_v) * (v - q.mu_v) for v in to_anchor]


def conditional_mix(group, other_anchor):
    """sum over v of f(t | v) h_other(v), leaving out anchor scores empty in group."""
    return [
        sum(row[v] / group.anchor[v] * other_anchor[v]
            for v in range(len(row)) if group.anchor[v] > 0)
        for row in group.joint
    ]


def synthetic(p, q, w1):
    w2 = 1.0 - w1
    f = [w1 * a + w2 * b for a, b in zip(p.total, conditional_mix(p, q.anchor))]
    g = [w1 * a + w2 * b for a, b in zip(conditional_mix(q, p.anchor), q.total)]
    return shares(f), shares(g)


def frequency_estimation(p, q, w1, internal):
    f, g = synthetic(p, q, w1)
    return equipercentile(f, g)


def braun_holland(p, q, w1, internal):
    f, g = synthetic(p, q, w1)

    def mean_sd(dist):
        mu = sum(i * s for i, s in enumerate(dist))
        return mu, math.sqrt(sum((i - mu) ** 2 * s for i, s in enumerate(dist)))

    mu_x, sd_x = mean_sd(f)
    mu_y, sd_y = mean_sd(g)
    return linear(len(f), mu_x, sd_x, mu_y, sd_y)


def chained_equipercentile(p, q, w1, internal):
    anchor_scores = equipercentile(p.total, p.anchor)
    anchor_cum = prepared(q.anchor)
    old_cum = prepared(q.total)
    return [score_at_rank(old_cum, percentile_rank(anchor_cum, v)) for v in anchor_scores]


METHODS = [
    ("tucker", tucker),
    ("levine", levine),
    ("chained_linear", chained_linear),
    ("frequency_estimation", frequency_estimation),
    ("braun_holland", braun_holland),
    ("chained_equipercentile", chained_equipercentile),
]

# ---- The tables ----

# Internal anchor, w1 = 0.5: P has no examinee at total 3 (a flat step in f_s), Q none at anchor
# score 0 (left out of g_s, which is then rescaled).
SMALL_INTERNAL_NEW = [[2, 0, 0], [3, 1, 0], [2, 4, 1], [0, 0, 0], [0, 3, 5], [0, 1, 4]]
SMALL_INTERNAL_OLD = [[0, 0, 0], [0, 2, 0], [0, 5, 1], [0, 3, 4], [0, 1, 6], [0, 0, 3]]

# External anchor, w1 = 0.3, forms of different lengths: Q has no examinee at total 3.
SMALL_EXTERNAL_NEW = [[3, 1, 0, 0], [2, 4, 2, 0], [1, 3, 5, 1], [0, 2, 4, 3], [0, 0, 2, 3]]
SMALL_EXTERNAL_OLD = [[2, 1, 0, 0], [3, 2, 1, 0], [1, 4, 2, 1], [0, 0, 0, 0], [0, 2, 5, 2],
                      [0, 1, 3, 4], [0, 0, 1, 3]]


def read_table(path, total_max, anchor_max):
    counts = [[0.0] * (anchor_max + 1) for _ in range(total_max + 1)]
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.split()
            if fields and not fields[0].startswith("#"):
                counts[int(fields[0])][int(fields[1])] = float(fields[2])
    return counts


def cxx_numbers(values, indent):
    items = [repr(float(v)) for v in values]
    lines = []
    for start in range(0, len(items), 4):
        lines.append(indent + ", ".join(items[start:start + 4]) + ",")
    return "\n".join(lines)


def emit_case(out, name, new_counts, old_counts, internal, w1, file_tables):
    p = Group(new_counts)
    q = Group(old_counts)
    out.append("    {")
    out.append(f'        "{name}",')
    out.append(f"        {len(new_counts)}, {len(old_counts)}, {len(new_counts[0])},")
    out.append(f"        AnchorKind::{'internal' if internal else 'external'}, {w1!r},")
    for counts in (new_counts, old_counts):
        if file_tables:
            out.append("        {},")
        else:
            out.append("        {")
            for row in counts:
                out.append(" " * 12 + ", ".join(str(c) for c in row) + ",")
            out.append("        },")
    out.append("        {")
    for method_name, method in METHODS:
        out.append(f"            // {method_name}")
        out.append("            {")
        out.append(cxx_numbers(method(p, q, w1, internal), " " * 16))
        out.append("            },")
    out.append("        },")
    out.append("    },")


def main():
    out = [
        "// Expected equated scores of the anchor-test methods, from tests/reference/"
        "anchor_reference.py",
        "// (an independent computation from the methods' formulas). Regenerate with",
        "//     python3 tests/reference/anchor_reference.py > "
        "tests/engine/equating/anchor_reference_values.h",
        "#pragma once",
        "",
        "#include <vector>",
        "",
        '#include "engine/equating/anchor_equating.h"',
        "",
        "namespace eqsim::anchor_reference {",
        "",
        "// The methods in the order of each case's results.",
        "inline constexpr int kMethodCount = 6;",
        "",
        "struct Case {",
        "    const char* name;",
        "    int kx;",
        "    int ky;",
        "    int kv;",
        "    AnchorKind anchor;",
        "    double w1;",
        "    // Counts row-major by total score; empty for the bundled example's files.",
        "    std::vector<double> new_counts;",
        "    std::vector<double> old_counts;",
        "    // Tucker, Levine observed-score, chained linear, frequency estimation,",
        "    // Braun-Holland, chained equipercentile.",
        "    std::vector<double> equated[kMethodCount];",
        "};",
        "",
        "inline const Case kCases[] = {",
    ]
    emit_case(out, "small internal anchor", SMALL_INTERNAL_NEW, SMALL_INTERNAL_OLD, True, 0.5,
              False)
    emit_case(out, "small external anchor", SMALL_EXTERNAL_NEW, SMALL_EXTERNAL_OLD, False, 0.3,
              False)
    emit_case(out, "kbneat", read_table("examples/kbneat_new.tab", 36, 12),
              read_table("examples/kbneat_old.tab", 36, 12), True, 0.5, True)
    out += ["};", "", "}  // namespace eqsim::anchor_reference", ""]
    sys.stdout.write("\n".join(out))


if __name__ == "__main__":
    main()
