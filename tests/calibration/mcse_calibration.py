#!/usr/bin/env python3
"""How well eqsim-study's Monte Carlo standard errors describe the spread of its estimates.

Runs one study under many seeds and, for every index (per score: mean, se, bias, rmse of each
quantity; per method and quantity: the six summaries; per cut: misclassified), compares the MCSE
the study reports, averaged over the seeds, with the standard deviation of the estimate across the
seeds (divisor seeds - 1). A well-calibrated MCSE gives a ratio near 1. Prints, per kind of index,
the number of estimates compared and the median and quartiles of the ratio; estimates that do not
vary across the seeds (identity equating, rounded scores that never move) are left out.

    python3 tests/calibration/mcse_calibration.py build/eqsim-study [--seeds 40] [--replications 200]

Standard library only; takes about a minute on two cores.
"""

import argparse
import csv
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))

STUDY = """data actmath.dat
sizes 100 500
method None
method Pre 4
method Post 0.3
method Linear
method Circle
method Synthetic 0.5
replications {replications}
seed {seed}
cuts 15 20 26
output out
"""


def read(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def key(row, *fields):
    return tuple(row[f] for f in ("data", "n_new", "n_old", "method", "parameter") + fields)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("study_program")
    parser.add_argument("--seeds", type=int, default=40)
    parser.add_argument("--replications", type=int, default=200)
    args = parser.parse_args()

    estimates = {}  # (kind, key) -> list of (estimate, mcse)
    with tempfile.TemporaryDirectory() as scratch:
        shutil.copy(os.path.join(TOP, "examples", "actmath.dat"), scratch)
        for seed in range(1, args.seeds + 1):
            with open(os.path.join(scratch, "study.txt"), "w") as f:
                f.write(STUDY.format(replications=args.replications, seed=seed))
            subprocess.run([args.study_program, os.path.join(scratch, "study.txt"), "--jobs",
                            "2"], check=True)
            out = os.path.join(scratch, "out")
            for row in read(os.path.join(out, "scores.csv")):
                k = key(row, "score", "quantity")
                for index in ("mean", "se", "bias", "rmse"):
                    kind = "score %s (%s)" % (index, row["quantity"])
                    estimates.setdefault((kind, k), []).append(
                        (float(row[index]), float(row["mcse_" + index])))
            for row in read(os.path.join(out, "summary.csv")):
                k = key(row, "quantity")
                for index in ("se_w", "bias_w", "rmse_w", "se_u", "bias_u", "rmse_u"):
                    kind = "summary %s (%s)" % (index, row["quantity"])
                    estimates.setdefault((kind, k), []).append(
                        (float(row[index]), float(row["mcse_" + index])))
            for row in read(os.path.join(out, "decisions.csv")):
                k = key(row, "cut")
                estimates.setdefault(("misclassified", k), []).append(
                    (float(row["misclassified"]), float(row["mcse_misclassified"])))

    ratios = {}
    for (kind, _), values in estimates.items():
        spread = statistics.stdev(v for v, _ in values)
        if spread == 0.0:
            continue
        ratios.setdefault(kind, []).append(statistics.fmean(m for _, m in values) / spread)

    print("%-32s %6s %7s %7s %7s" % ("index", "n", "q1", "median", "q3"))
    for kind in sorted(ratios):
        r = sorted(ratios[kind])
        q = statistics.quantiles(r, n=4) if len(r) > 1 else [r[0]] * 3
        print("%-32s %6d %7.3f %7.3f %7.3f" % (kind, len(r), q[0], q[1], q[2]))
    medians = [statistics.median(r) for r in ratios.values()]
    print("median ratios from %.3f to %.3f over %d kinds of index" %
          (min(medians), max(medians), len(medians)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
