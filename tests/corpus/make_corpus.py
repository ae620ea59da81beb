#!/usr/bin/env python3
"""Writes the corpus of cases that compare_builds.py runs through two builds of eqsim: more than
2,000 runs of eqsim (control files with their data files) and more than 50 studies of eqsim-study
(study files with their data files), completed runs and every kind of failure. The same seed
writes the same bytes.

    python3 tests/corpus/make_corpus.py FOLDER [--seed N]

FOLDER/cases/CATEGORY/NNNN-NAME/ holds one case:

  files/     the files the case's commands start from; they are copied into the folder that the
             commands run in (the case's folder), and every path of the case is relative to it;
  case.json  {"category", "name", "setup", "steps", "template"}:
    setup     actions on that folder before the first step: ["mkdir", PATH],
              ["symlink", TARGET, PATH], ["immutable", PATH] (a file that even the superuser
              cannot replace; the case is skipped where the file system has no such attribute);
    steps     in order: ["run", PROGRAM, ARGS, OPTIONS], PROGRAM "eqsim" or "eqsim-study" and
              OPTIONS a subset of {"cwd": SUBFOLDER, "stdout": "full" | "closed" | "broken-pipe",
              "file_size": BYTES, "address_space": BYTES}; ["copy", FROM, TO]; ["remove", PATH];
    template  files in which @CASE@ stands for the case folder's absolute path (rooted names).

Two rules keep the corpus valid as the program grows:
  - no run may take its seed from the clock (a seed of 0, or no seed, in a run that completes),
    since the clock differs between two runs; make_corpus checks every control and study file;
  - methods that later versions add will take words beginning with I, C, S, K, T, F, B and Le, so
    every method word here begins with P, N, L (not Le) or M, or names no method for a reason
    that stays (a digit, punctuation, an empty word); make_corpus checks that too.
"""
import argparse
import json
import os
import random
import sys

LARGEST_SEED = 2147483646
BOM = b"\xef\xbb\xbf"

# ---------------------------------------------------------------------------------------------
# The corpus on disk


def slug(name):
    out = []
    for c in name:
        out.append(c if (c.isascii() and c.isalnum()) or c in "-_." else "-")
    return "".join(out).strip("-")[:60] or "case"


def as_bytes(content):
    return content if isinstance(content, bytes) else content.encode("utf-8")


class Corpus:
    def __init__(self, folder):
        self.root = os.path.join(folder, "cases")
        self.counts = {}

    def add(self, category, name, files, steps, setup=(), template=()):
        n = self.counts.get(category, 0) + 1
        self.counts[category] = n
        case_dir = os.path.join(self.root, category, "%04d-%s" % (n, slug(name)))
        os.makedirs(os.path.join(case_dir, "files"))
        for path in sorted(files):
            target = os.path.join(case_dir, "files", path)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(as_bytes(files[path]))
        for step in steps:
            if step[0] == "run" and step[1] == "eqsim":
                for arg in step[2]:
                    if arg in files:
                        check_control_file(category, name, as_bytes(files[arg]))
            if step[0] == "run" and step[1] == "eqsim-study":
                for arg in step[2]:
                    if arg in files:
                        check_study_file(category, name, as_bytes(files[arg]))
        plan = {"category": category, "name": name, "setup": list(setup), "steps": list(steps),
                "template": list(template)}
        with open(os.path.join(case_dir, "case.json"), "w", encoding="utf-8") as f:
            json.dump(plan, f, indent=1, sort_keys=True)
            f.write("\n")

    def eqsim(self, category, name, control, data=None, data_name="scores.dat", extra=None,
              args=None, options=None, setup=(), template=()):
        """A case of one eqsim run on run.ctl (or args) with its data file."""
        files = {"run.ctl": control} if control is not None else {}
        if data is not None:
            files[data_name] = data
        files.update(extra or {})
        step = ["run", "eqsim", ["run.ctl"] if args is None else args, options or {}]
        self.add(category, name, files, [step], setup, template)


# ---------------------------------------------------------------------------------------------
# The two rules of the module comment, checked on every control and study file.


def method_word_lasts(word):
    """True when word names a method of today by a letter no later method takes, or names none
    for a reason no later method changes."""
    if word == "":
        return True
    first = word[0].upper()
    if first in "PNM":
        return True
    if first == "L":
        return not word.upper().startswith("LE")
    return not first.isalpha()


def integer_prefix(token):
    """The control file's reading of an integer token: None when it holds no leading number."""
    i = 0
    while i < len(token) and token[i] in "\v\f":
        i += 1
    sign = 1
    if i < len(token) and token[i] in "+-":
        sign = -1 if token[i] == "-" else 1
        i += 1
    digits = ""
    while i < len(token) and token[i].isdigit():
        digits += token[i]
        i += 1
    return sign * int(digits) if digits else None


def control_tokens(line):
    for stop in "\r\0":
        if stop in line:
            line = line[: line.index(stop)]
    return line.replace("\t", " ").split()


def check_control_file(category, name, data):
    """Refuses a control file whose run could take its seed from the clock, or that holds a method
    word a later method could take."""
    text = data.decode("latin-1")
    if text.startswith("\xef\xbb\xbf"):
        text = text[3:]
    seed = 0
    read_ok = True
    lines = text.split("\n")
    ended = False
    for index, line in enumerate(lines):
        has_newline = index + 1 < len(lines)
        if not has_newline and line == "":
            break
        tokens = control_tokens(line)
        if len(tokens) >= 2 and tokens[0][:2].upper() == "SM":
            assert method_word_lasts(tokens[1]), (category, name, tokens[1])
        if ended:
            continue
        if has_newline and line in ("", "\r"):
            ended = True
            continue
        if line.startswith("#"):
            continue
        key = key_of(line) if tokens else None
        if len(line) > 148 or key is None or "\0" in line or \
                len(tokens) != (4 if key in ("C", "SC") else 2):
            read_ok = False
            continue
        if key == "SE":
            value = integer_prefix(tokens[1])
            if value is None:
                read_ok = False
            else:
                seed = value
    clock_ok = "clock-ok" in name
    assert clock_ok or not read_ok or seed != 0, ("seed from the clock", category, name)


def check_study_file(category, name, data):
    text = data.decode("latin-1")
    seed = None
    for line in text.split("\n"):
        tokens = line.replace("\t", " ").split()
        if tokens and tokens[0].startswith("#"):
            continue
        if len(tokens) >= 2 and tokens[0].lower() == "method":
            assert method_word_lasts(tokens[1]), (category, name, tokens[1])
        if len(tokens) >= 2 and tokens[0].lower() == "seed":
            seed = tokens[1]
    # The errors' study files fail before they could run; some lack a seed on purpose.
    assert category == "study-errors" or "clock-ok" in name or (seed is not None and seed not in ("0", "+0", "-0")), (
        "study seed from the clock", category, name)


# ---------------------------------------------------------------------------------------------
# Populations, conversions and data files


def beta_binomial(points, a, b):
    """Relative frequencies of a beta-binomial over points scores, by the ratio of consecutive
    terms (plain arithmetic, so the same on every platform)."""
    n = points - 1
    p = [1.0]
    for x in range(n):
        p.append(p[-1] * (n - x) * (x + a) / ((x + 1) * (n - x - 1 + b)))
    total = sum(p)
    return [v / total for v in p]


def population(rng, points, total, shape=None):
    shape = shape or rng.choice(["bb", "bb", "bb", "bb", "flat", "spike", "gappy", "edges"])
    if shape == "flat":
        p = [1.0 / points] * points
    elif shape == "spike":
        p = [rng.uniform(0.0, 0.2) for _ in range(points)]
        for _ in range(rng.randint(1, 2)):
            p[rng.randrange(points)] += rng.uniform(2.0, 6.0)
    else:
        p = beta_binomial(points, rng.uniform(0.6, 7.0), rng.uniform(0.6, 7.0))
        if shape == "gappy":
            for _ in range(rng.randint(1, max(1, points // 5))):
                p[rng.randrange(1, points - 1)] = 0.0
        elif shape == "edges":
            for i in range(rng.randint(1, max(1, points // 6))):
                p[i] = 0.0
                p[points - 1 - i] = 0.0
    s = sum(p)
    if s <= 0.0:
        p = [1.0 / points] * points
        s = 1.0
    return [v / s * total for v in p]


def conversion(rng, points, lo, hi, kind=None):
    kind = kind or rng.choice(["linear", "curved", "curved", "s", "clipped", "wiggle"])
    values = []
    c = rng.uniform(-0.9, 0.9)
    w = rng.uniform(0.2, 1.0)
    for i in range(points):
        t = i / (points - 1)
        if kind == "curved":
            t = t + c * t * (1.0 - t)
        elif kind == "s":
            t = (1.0 - w) * t + w * (3.0 * t * t - 2.0 * t * t * t)
        values.append(lo + (hi - lo) * t)
    if kind == "clipped":
        low, high = lo + 0.1 * (hi - lo), hi - 0.1 * (hi - lo)
        values = [min(max(v, low), high) for v in values]
    elif kind == "wiggle":
        amp = 0.3 * (hi - lo) / points
        values = [v + (amp if i % 2 else -amp) for i, v in enumerate(values)]
    return values


def fmt_number(rng, v, style):
    if style == "mixed":
        style = rng.choice(["int", "dec", "dec", "sci", "lead"])
    if style == "int":
        return str(int(round(v)))
    if style == "dec":
        return "%.*f" % (rng.choice([1, 2, 3, 4, 6]), v)
    if style == "sci":
        return "%.6e" % v
    if style == "lead":
        text = "%.3f" % v
        return text[1:] if text.startswith("0.") else text
    return repr(v)


MISSING_MARKERS = ["*", "-", "NA", "x", "--", "?", "missing", "-1", "+3", "#"]


class DataStyle:
    """How a data file is written; every field has a plain default."""

    def __init__(self, **kw):
        self.freq_style = "dec"
        self.scale_decimals = 4
        self.columns = (1, 2, 3)
        self.width = None  # columns a row holds; at least the largest chosen
        self.filler = "score"  # what fills columns that are not chosen
        self.sep = "space"
        self.missing_new = "*"
        self.missing_old = "*"
        self.scale_beside_missing = "-"
        self.extra_rows = 0  # rows after both forms, every entry missing
        self.terminator = "eof"
        self.crlf = False
        self.bom = False
        self.leading = ""
        self.__dict__.update(kw)


def random_style(rng, columns=(1, 2, 3)):
    style = DataStyle(columns=columns)
    style.freq_style = rng.choice(["int", "int", "dec", "dec", "mixed", "sci", "lead"])
    style.scale_decimals = rng.choice([2, 4, 4, 4, 6])
    style.sep = rng.choice(["space", "space", "spaces", "tab", "mixed", "aligned"])
    style.missing_new = rng.choice(MISSING_MARKERS[:7])
    style.missing_old = rng.choice(MISSING_MARKERS[:7])
    style.scale_beside_missing = rng.choice(["-", "*", "0", "junk", "1e999"])
    style.extra_rows = rng.choice([0, 0, 0, 1, 3])
    style.terminator = rng.choice(["eof", "eof", "eof", "eof-bare", "dollar", "dollar-junk",
                                   "empty-junk", "dollars"])
    style.crlf = rng.random() < 0.12
    style.bom = rng.random() < 0.08
    style.filler = rng.choice(["score", "score", "word", "number"])
    if max(columns) <= 3 and rng.random() < 0.2:
        style.width = rng.randint(4, 8)
    style.leading = rng.choice(["", "", "", " ", "\t"])
    return style


def whole_numbers(values):
    """values rounded to whole numbers with the rounded total kept (largest remainders first)."""
    floors = [int(v) for v in values]
    short = int(round(sum(values))) - sum(floors)
    order = sorted(range(len(values)), key=lambda i: (floors[i] - values[i], i))
    for i in order[:max(0, short)]:
        floors[i] += 1
    return [float(v) for v in floors]


def render_data(rng, new, old, conv, style):
    """The data file's bytes for the populations new and old and the old form's conversion."""
    if style.freq_style == "int":
        new, old = whole_numbers(new), whole_numbers(old)
    rows = max(len(new), len(old)) + style.extra_rows
    cn, co, cs = style.columns
    width = max(style.width or 0, cn, co, cs)
    lines = []
    for i in range(rows):
        if style.filler == "word":
            tokens = ["r%d" % i] * width
        elif style.filler == "number":
            tokens = ["%d" % (i * 7 % 13)] * width
        else:
            tokens = [str(i)] * width
        tokens = list(tokens)
        new_entry = fmt_number(rng, new[i], style.freq_style) if i < len(new) else style.missing_new
        if i < len(old):
            old_entry = fmt_number(rng, old[i], style.freq_style)
            scale_entry = "%.*f" % (style.scale_decimals, conv[i])
        else:
            old_entry = style.missing_old
            scale_entry = style.scale_beside_missing
        tokens[cn - 1] = new_entry
        tokens[co - 1] = old_entry
        tokens[cs - 1] = scale_entry
        if style.sep == "tab":
            line = "\t".join(tokens)
        elif style.sep == "spaces":
            line = "   ".join(tokens)
        elif style.sep == "mixed":
            line = "".join(t + rng.choice([" ", "\t", "  ", " \t"]) for t in tokens).rstrip()
        elif style.sep == "aligned":
            line = "".join(" " + t.rjust(11) for t in tokens)
        else:
            line = " ".join(tokens)
        if len(style.leading + line) > 298:
            line = " ".join(t if k + 1 in style.columns else "0" for k, t in enumerate(tokens))
        lines.append(style.leading + line)
    tail = []
    if style.terminator == "dollar":
        tail = ["$"]
    elif style.terminator == "dollar-junk":
        tail = ["$ the rows end here", "this line is never read", "1 2 3 4 5"]
    elif style.terminator == "dollars":
        tail = ["$$$$", "* * *"]
    elif style.terminator == "empty-junk":
        tail = ["", "notes: anything at all", "9 9 9"]
    end = "\r\n" if style.crlf else "\n"
    text = end.join(lines + tail)
    if style.terminator != "eof-bare":
        text += end
    data = text.encode("latin-1")
    return BOM + data if style.bom else data


class Forms:
    """Two populations and a conversion, with the sizes and scale they were made for."""

    def __init__(self, rng, points_new=None, points_old=None, total_new=None, total_old=None,
                 scale=None, conv_range=None, conv_kind=None, shapes=(None, None)):
        self.points_new = points_new or rng.choice(
            [4, 5, 6, 8, 10, 12, 16, 20, 21, 25, 30, 31, 36, 40, 41, 45, 50, 56, 61, 70, 80])
        if points_old is None:
            points_old = self.points_new if rng.random() < 0.6 else max(
                4, min(80, self.points_new + rng.randint(-8, 8)))
        self.points_old = points_old
        self.total_new = total_new if total_new is not None else random_total(rng)
        self.total_old = total_old if total_old is not None else (
            self.total_new if rng.random() < 0.3 else random_total(rng))
        self.new = population(rng, self.points_new, self.total_new, shapes[0])
        self.old = population(rng, self.points_old, self.total_old, shapes[1])
        # The scale the forms are reported on, ((MIN, MAX, INC), SC tokens or None for the
        # default), and a conversion that mostly fits it.
        self.scale = scale or scale_for(rng)
        low, high = self.scale[0][0], self.scale[0][1]
        lo, hi = conv_range or (low + rng.uniform(-0.3, 1.0) * (high - low) * 0.05,
                                high - rng.uniform(-0.3, 1.0) * (high - low) * 0.05)
        self.conv = conversion(rng, self.points_old, lo, hi, conv_kind)

    def sample_total(self):
        return self.total_new + self.total_old

    def render(self, rng, style=None, columns=(1, 2, 3)):
        return render_data(rng, self.new, self.old, self.conv, style or random_style(rng, columns))


def random_total(rng):
    kind = rng.random()
    if kind < 0.1:
        return rng.choice([4, 5, 7, 10, 15, 23, 40, 60])
    if kind < 0.55:
        return rng.randint(80, 3000)
    if kind < 0.9:
        return rng.randint(3000, 20000)
    return rng.randint(20000, 150000)


def replications_for(rng, forms, cost=1.0, most=300):
    """Replications that keep a run to a few tens of milliseconds: sampling costs a few
    nanoseconds an examinee, and the smoothing methods tens of microseconds a replication."""
    budget = 2.5e6 / (forms.sample_total() + 2000.0 * cost)
    top = max(1, min(most, int(budget)))
    if top == 1:
        return 1
    return min(top, rng.choice([1, 2, 3, 5, 10, 20, 50, 100, 200, 300, top, top, top]))


# ---------------------------------------------------------------------------------------------
# Control files


KEYWORDS = {
    "R": ["R", "R", "R", "r", "Replications", "reps", "REPS"],
    "P": ["P", "P", "P", "p", "Parameter", "param"],
    "C": ["C", "C", "c", "Columns", "cols"],
    "I": ["I", "I", "I", "i", "Input", "in"],
    "O": ["O", "O", "o", "Output", "out"],
    "SE": ["SE", "SE", "SE", "se", "Se", "Seed", "SEED"],
    "SM": ["SM", "SM", "SM", "sm", "Sm", "SMethod", "Smoothing"],
    "SC": ["SC", "SC", "SC", "sc", "Scale", "SCALE"],
}


def key_of(line):
    """The setting a control line sets, as the program reads its keyword, or None."""
    tokens = control_tokens(line)
    if not tokens:
        return None
    keyword = tokens[0].upper()
    if keyword[0] == "S":
        return keyword[:2] if keyword[:2] in ("SE", "SM", "SC") else None
    return keyword[0] if keyword[0] in "RPCIO" else None


class Control:
    """A control file as a list of settings lines, rendered with the chosen spelling."""

    def __init__(self, rng, plain=False):
        self.rng = rng
        self.plain = plain
        self.lines = []

    def set(self, key, *values, keyword=None):
        rng = self.rng
        word = keyword or (key if self.plain else rng.choice(KEYWORDS[key]))
        sep = " " if self.plain else rng.choice([" ", " ", " ", "  ", "\t", " \t"])
        line = word + sep + sep.join(values)
        if not self.plain and rng.random() < 0.05:
            line += rng.choice([" ", "\t", "   "])
        self.lines.append(line)
        return self

    def raw(self, line):
        self.lines.append(line)
        return self

    def drop(self, key):
        """Removes the lines of one setting (R, P, C, I, O, SE, SM or SC)."""
        self.lines = [line for line in self.lines if key_of(line) != key]
        return self

    def render(self, shuffle=True, comments=True, crlf=False, bom=False, final_newline=True,
               after=None):
        rng = self.rng
        lines = list(self.lines)
        if shuffle and not self.plain:
            rng.shuffle(lines)
        if comments and not self.plain and rng.random() < 0.3:
            for _ in range(rng.randint(1, 3)):
                lines.insert(rng.randint(0, len(lines)),
                             rng.choice(["# a comment", "#", "#R 5", "# SM Linear", "#\tnote",
                                         "## " + "long comment " * 12]))
        if after is not None:
            lines += [""] + after
        end = "\r\n" if crlf else "\n"
        text = end.join(lines) + (end if final_newline else "")
        data = text.encode("utf-8")
        return BOM + data if bom else data


METHOD_WORDS = {
    1: ["Postsmoothing", "Post", "Po", "Pos", "Postsmooth", "POSTSMOOTHING", "postsmoothing",
        "pOsT", "post", "PO", "Post-Smoothing", "post-smoothing", "Postsmoothin"],
    2: ["Presmoothing", "Pre", "Pr", "Pres", "Presmooth", "PRESMOOTHING", "presmoothing",
        "pRe", "pre", "PR", "Pre-Smoothing", "PRE-SMOOTHING", "Presmoothi"],
    3: ["None", "N", "No", "Non", "NONE", "none", "nOnE", "n"],
    4: ["Linear", "L", "Li", "Lin", "Line", "LINEAR", "linear", "lInEaR", "l"],
    5: ["Mean", "M", "Me", "Mea", "MEAN", "mean", "mEaN", "m"],
}
# Words that choose a method by their first letters without being a beginning of its name:
# read as that method, with a warning.
METHOD_WORDS_WARNED = {
    1: ["Postal", "Pox", "Postsmoothed", "Post_smoothing", "POSTER", "Po1"],
    2: ["Prefit", "Presmoothed", "Prx", "PRIOR", "Pr-6", "Pre6"],
    3: ["Nothing", "Nonlinear", "Normal", "Nx", "nada", "N/A", "No-smoothing"],
    4: ["Loglinear", "Lineal", "Linearity", "Lx", "Lo", "Lz", "L-1", "lowess"],
    5: ["Mean-sigma", "Meansigma", "Median", "Mx", "Means", "MID", "M2"],
}
# Words that name no method: an unknown second letter after P, a digit, punctuation.
METHOD_WORDS_REFUSED = ["P", "p", "Px", "Pa", "PZ", "P1", "P-", "2", "3", "0", "1", "5",
                        "-", "_", "#", "!", "1.0", ".", "*", "+", "--", "(Post)", "@", "\"Mean\"",
                        "'None'", "~"]


def method_of(number):
    return {1: "Post", 2: "Pre", 3: "None", 4: "Linear", 5: "Mean"}[number]


def smoothing_for(rng, method, forms):
    if method == 1:
        return rng.choice(["0", "0.01", "0.05", "0.1", "0.2", "0.25", "0.3", "0.5", "0.75",
                           "1", "1.0", "-1"])
    if method == 2:
        top = max(forms.points_new, forms.points_old)
        return str(rng.choice([1, 2, 3, 4, 4, 5, 6, 6, 7, 8, min(10, top), top - 1]))
    return rng.choice(["0.25", "0", "5", "-3", "0.3", "100"])


def method_cost(method, smoothing_token):
    if method in (1,):
        return 1.0
    if method == 2:
        try:
            degree = float(smoothing_token)
        except ValueError:
            degree = 6.0
        return 1.0 + min(degree, 80.0) / 8.0
    return 0.05


def seed_token(rng):
    kind = rng.random()
    if kind < 0.6:
        value = rng.randint(1, LARGEST_SEED)
    elif kind < 0.8:
        value = -rng.randint(1, LARGEST_SEED)
    else:
        value = rng.choice([1, 2, 3, 7, 42, 16807, 48271, 123456789, LARGEST_SEED,
                            -LARGEST_SEED, -1, 20261207, 2147483645, 99])
    return str(value)


DEFAULT_SCALE = ((1.0, 36.0, 1.0), None)


def scale_for(rng):
    """A scale (min, max, inc) for a run, as numbers and as tokens."""
    kind = rng.random()
    if kind < 0.35:
        return DEFAULT_SCALE
    choices = [
        (1, 36, 1), (0, 100, 1), (100, 130, 1), (200, 800, 10), (1, 36, 0.5), (0, 10, 0.1),
        (0.5, 20.5, 0.5), (-10, 10, 0.25), (120, 180, 2), (0, 60, 5), (1, 6, 1), (10, 90, 0.2),
        (0.3, 35.7, 1), (1.25, 36.75, 0.5), (-5.5, 4.5, 1), (0, 1, 0.01), (0.05, 0.95, 0.1),
        (20, 80, 1), (1, 99, 3), (150, 150, 1), (7, 7.5, 0.5), (0, 1000, 0.5),
    ]
    lo, hi, inc = rng.choice(choices)
    tokens = ["%g" % lo, "%g" % hi, "%g" % inc]
    if rng.random() < 0.2:
        tokens = [repr(float(lo)), repr(float(hi)), repr(float(inc))]
    return (float(lo), float(hi), float(inc)), tokens


def standard_run(rng, forms=None, method=None, word=None, smoothing=None, reps=None, seed=None,
                 scale=None, output="keep", columns=None, style=None, data_name="scores.dat"):
    """A random control file that would run, with its data file: (Control, bytes). Whatever is
    given is used as it stands; the rest is drawn."""
    forms = forms or Forms(rng, scale=scale)
    if style is not None and columns is None:
        columns = style.columns
    scale_tokens = (scale or forms.scale)[1]
    method = method or rng.randint(1, 5)
    word = word or rng.choice(METHOD_WORDS[method])
    if smoothing is None:
        smoothing = smoothing_for(rng, method, forms)
    if reps is None:
        reps = str(replications_for(rng, forms, method_cost(method, smoothing)))
    seed = seed or seed_token(rng)
    control = Control(rng)
    control.set("I", data_name)
    control.set("SM", word)
    if smoothing != "":
        control.set("P", smoothing)
    control.set("R", reps)
    control.set("SE", seed)
    if columns is None:
        columns = (1, 2, 3) if rng.random() < 0.7 else tuple(
            rng.sample(range(1, 9), 3))
    if columns != (1, 2, 3) or rng.random() < 0.3:
        control.set("C", *[str(c) for c in columns])
    if scale_tokens is not None:
        control.set("SC", *scale_tokens)
    if output == "keep":
        output = rng.choice([None, None, "report.txt", "out.txt"])
    if output is not None:
        control.set("O", output)
    data = forms.render(rng, style or random_style(rng, columns), columns)
    return control, data


def render_control(rng, control):
    return control.render(crlf=rng.random() < 0.08, bom=rng.random() < 0.05,
                          final_newline=rng.random() < 0.95)


# ---------------------------------------------------------------------------------------------
# eqsim categories


def add_methods(corpus, rng):
    """Every method by every spelling: full words, prefixes, odd case, report names, words read by
    their first letters (with a warning), and words that name no method."""
    for method in range(1, 6):
        for word in METHOD_WORDS[method]:
            for k in range(5):
                control, data = standard_run(rng, method=method, word=word)
                corpus.eqsim("methods", "%s-%d" % (word, k), render_control(rng, control), data,
                             extra=earlier_report(rng))
        for word in METHOD_WORDS_WARNED[method]:
            for k in range(3):
                control, data = standard_run(rng, method=method, word=word)
                corpus.eqsim("methods", "warned-%s-%d" % (word, k),
                             render_control(rng, control), data)
    for word in METHOD_WORDS_REFUSED:
        for k in range(2):
            control, data = standard_run(rng, word=word)
            corpus.eqsim("methods", "refused-%s-%d" % (word, k), render_control(rng, control),
                         data)
    # The method line itself: no word, two words, the last of several lines.
    for k, lines in enumerate([["SM"], ["SM Post Pre"], ["SM Linear Mean"], ["SM\tN\t"],
                               ["SM Pre", "SM Linear"], ["SM Mean", "SM Post", "SM N"],
                               ["SM 2", "SM Mean"], ["SM Mean", "SM 2"]]):
        control, data = standard_run(rng, method=5, word="Mean")
        control.drop("SM").lines += lines
        corpus.eqsim("methods", "method-lines-%d" % k, control.render(shuffle=False), data)
    # The default method (no SM line): post-smoothing with the default parameter.
    for k in range(10):
        control, data = standard_run(rng, method=1, word="Post", smoothing=rng.choice(["", "0.1"]))
        control.drop("SM")
        corpus.eqsim("methods", "default-method-%d" % k, render_control(rng, control), data)


def earlier_report(rng):
    if rng.random() < 0.5:
        return {"report.txt": "an earlier report\n", "out.txt": "x" * rng.randint(0, 20000)}
    return {}


POST_PARAMETERS = ["1", "1.0", "1.000000", "1.0000000001", "1.0001", "1.01", "2", "1e300",
                   "0.9999999", "0.99", "0.5", "0.3", "0.25", "0.1", "0.05", "0.01", "0.005",
                   "0.001", "1e-9", "5e-324", "0", "-0", "-0.0", "-1", "-1e300", "+0.5", ".5",
                   "1e0", "1E-1", "0x1p-2", "0.3x", "0,3", "1.5,0", "0.25e", "1.0.0", "inf",
                   "nan", "1e999", "-inf", "abc", "x0.3", "0.999999999999999999"]
PRE_PARAMETERS = ["1", "1.0", "0.999999", "0.9999999999", "0.5", "0", "-1", "1.5", "1.999",
                  "2", "2.9999", "3", "3.7", "4", "5", "6", "6.9", "7", "8", "10", "12", "15",
                  "20", "40", "79", "100", "1e300", "32767", "2147483648", "6abc", "6,5",
                  "0x6", "+4", "nan", "inf", "-inf", "1e999", "six"]


def add_smoothing(corpus, rng):
    """Smoothing parameters at and around their limits, for the methods that use them and the
    ones that ignore them."""
    for token in POST_PARAMETERS:
        for k in range(3):
            forms = Forms(rng, total_new=rng.randint(200, 6000))
            control, data = standard_run(rng, forms=forms, method=1, smoothing=token)
            corpus.eqsim("smoothing", "post-%s-%d" % (token, k), render_control(rng, control),
                         data)
    for token in PRE_PARAMETERS:
        for k in range(3):
            forms = Forms(rng, points_new=rng.choice([4, 5, 6, 8, 12, 20, 30, 41]),
                          total_new=rng.randint(100, 5000))
            limit = max(forms.points_new, forms.points_old)
            reps = str(rng.choice([1, 2, 5, 10, 20]) if limit > 30 else rng.choice([5, 20, 60]))
            control, data = standard_run(rng, forms=forms, method=2, smoothing=token, reps=reps)
            corpus.eqsim("smoothing", "pre-%s-%d" % (token, k), render_control(rng, control),
                         data)
    # Degrees at the number of score points less one and around it, form by form.
    for points in [4, 5, 7, 10, 15, 21, 30]:
        for delta in [-2, -1, 0, 1, 5]:
            forms = Forms(rng, points_new=points, points_old=rng.choice([points, points + 3]),
                          total_new=rng.randint(200, 3000))
            control, data = standard_run(rng, forms=forms, method=2,
                                         smoothing=str(points - 1 + delta),
                                         reps=str(rng.choice([3, 10, 30])))
            corpus.eqsim("smoothing", "pre-degree-%d-of-%d" % (points - 1 + delta, points),
                         render_control(rng, control), data)
    # None, Linear and Mean ignore the parameter, whatever it is (but a non-finite one is still
    # refused).
    for method in (3, 4, 5):
        for token in ["-5", "0", "0.5", "1", "1.5", "7", "1e300", "-1e300", "0,3", "nan", "inf",
                      "q"]:
            control, data = standard_run(rng, method=method, smoothing=token)
            corpus.eqsim("smoothing", "%s-%s" % (method_of(method), token),
                         render_control(rng, control), data)
    # The parameter line given twice, and the method's check against the last one.
    for k, pair in enumerate([("2", "0.3"), ("0.3", "2"), ("0.5", "6"), ("6", "0.5")]):
        for method in (1, 2):
            control, data = standard_run(rng, method=method, smoothing=pair[0], reps="10")
            control.set("P", pair[1])
            corpus.eqsim("smoothing", "twice-%s-%d" % (method_of(method), k),
                         control.render(shuffle=False), data)


def add_replications(corpus, rng):
    tokens = ["1", "2", "3", "4", "5", "7", "10", "17", "33", "50", "64", "99", "100", "128",
              "150", "200", "250", "300", "+8", "007", "10x", "1e3", "1,000", "20k", "5.5",
              "12.0", "3;"]
    for token in tokens:
        for k in range(3):
            forms = Forms(rng, total_new=rng.randint(30, 3000), total_old=rng.randint(30, 3000))
            method = rng.choice([1, 2, 3, 4, 5] if int(integer_prefix(token) or 1) <= 100
                                else [3, 4, 5, 5, 1])
            control, data = standard_run(rng, forms=forms, method=method, reps=token)
            corpus.eqsim("replications", "R-%s-%d" % (token, k), render_control(rng, control),
                         data)
    for token in ["0", "-0", "-1", "-5", "-2147483648", "2147483648", "99999999999", "ten",
                  "x10", "", "R", "1 2", "0x10", "--1", "+-1"]:
        control, data = standard_run(rng, reps="1")
        control.drop("R").raw(("R " + token).rstrip())
        corpus.eqsim("replications", "bad-R-%s" % token, control.render(shuffle=False), data)
    # A bad value overridden later, and a good one overridden by a bad one.
    for k, (first, second) in enumerate([("0", "3"), ("3", "0"), ("ten", "3"), ("-1", "20")]):
        control, data = standard_run(rng, reps=first)
        control.set("R", second)
        corpus.eqsim("replications", "override-%d" % k, control.render(shuffle=False), data)


def add_seeds(corpus, rng):
    for k in range(60):
        control, data = standard_run(rng, seed=seed_token(rng))
        corpus.eqsim("seeds", "seed-%d" % k, render_control(rng, control), data)
    for token in ["1", "-1", "2", "-2", "2147483646", "-2147483646", "2147483645", "16807",
                  "+99", "00042", "12345abc", "77.7", "5e3", "-8,000", "314159x"]:
        for method in (1, 3):
            control, data = standard_run(rng, method=method, seed=token)
            corpus.eqsim("seeds", "seed-%s-%s" % (token, method_of(method)),
                         render_control(rng, control), data)
    for token in ["2147483647", "-2147483647", "-2147483648", "2147483648", "99999999999",
                  "-99999999999", "abc", "x1", "", "- 5", "1 2"]:
        control, data = standard_run(rng, seed="5")
        control.drop("SE").raw(("SE " + token).rstrip())
        corpus.eqsim("seeds", "bad-seed-%s" % token, control.render(shuffle=False), data)
    # A negative seed runs as its absolute value: the two reports differ only in the seed shown.
    for k in range(3):
        seed = rng.randint(1, 100000)
        _, data = standard_run(rng, output=None)
        texts = ["I scores.dat\nSM %s\nR 20\nSE %d\n" % (method_of(k + 1), s)
                 for s in (-seed, seed)]
        corpus.add("seeds", "negative-and-positive-%d" % k,
                   {"neg.ctl": texts[0], "pos.ctl": texts[1], "scores.dat": data},
                   [["run", "eqsim", ["neg.ctl"], {}], ["run", "eqsim", ["pos.ctl"], {}]])


def add_columns(corpus, rng):
    for k in range(70):
        columns = tuple(rng.sample(range(1, 26), 3))
        style = random_style(rng, columns)
        style.width = rng.choice([None, None, 25, 30, max(columns) + 2])
        control, data = standard_run(rng, columns=columns, style=style)
        corpus.eqsim("columns", "C-%d-%d-%d" % columns, render_control(rng, control), data)
    # The same column chosen twice or three times.
    for columns in [(1, 1, 2), (2, 2, 2), (1, 2, 2), (2, 1, 1), (3, 3, 1), (25, 25, 25)]:
        for k in range(2):
            style = random_style(rng, columns)
            style.missing_new = style.missing_old = style.scale_beside_missing = "*"
            forms = Forms(rng, scale=DEFAULT_SCALE, conv_kind="linear")
            control, data = standard_run(rng, forms=forms, columns=columns, style=style)
            corpus.eqsim("columns", "C-%d-%d-%d-%d" % (columns + (k,)),
                         render_control(rng, control), data)
    # Values read with a warning, extra values that are ignored.
    for k, values in enumerate([["1x", "2", "3"], ["1", "2.0", "3"], ["1", "2", "3", "4"],
                                ["1", "2", "3", "anything", "after"], ["01", "+2", "3"],
                                ["1", "2", "3e1"], ["2", "1", "3,"]]):
        control, data = standard_run(rng, columns=(1, 2, 3))
        control.drop("C").set("C", *values)
        corpus.eqsim("columns", "values-%d" % k, render_control(rng, control), data)
    # Columns that cannot be used.
    for values in [["0", "2", "3"], ["1", "2", "26"], ["1", "26", "3"], ["32768", "2", "3"],
                   ["-1", "2", "3"], ["1", "2"], ["1"], [], ["a", "b", "c"], ["1", "x", "3"],
                   ["1", "2", "999999"], ["1", "2", "-32769"]]:
        control, data = standard_run(rng, columns=(1, 2, 3))
        control.drop("C").raw(" ".join(["C"] + values))
        corpus.eqsim("columns", "bad-C-%s" % "-".join(values), control.render(shuffle=False),
                     data)
    # A chosen column beyond the rows of the data file, with and without other separators.
    for k, sep in enumerate([" ", ",", ";", "|", ", ", " ; "]):
        forms = Forms(rng, points_new=10, total_new=500)
        rows = ["%s%s%s%s%.3f" % (fmt_number(rng, forms.new[i], "int"), sep,
                                   fmt_number(rng, forms.old[i], "int") if i < forms.points_old
                                   else "*", sep,
                                   forms.conv[i] if i < forms.points_old else 0.0)
                for i in range(max(forms.points_new, forms.points_old))]
        control, _ = standard_run(rng, forms=forms, columns=(1, 2, 4))
        corpus.eqsim("columns", "beyond-row-sep%d" % k, control.render(shuffle=False),
                     ("\n".join(rows) + "\n").encode())


SCALES = [
    ("1", "36", "1"), ("0", "100", "1"), ("1", "36", "0.5"), ("0", "10", "0.1"),
    ("0.3", "35.7", "1"), ("0.25", "9.75", "0.5"), ("-20", "20", "0.5"), ("100", "200", "10"),
    ("200", "800", "10"), ("1", "1", "1"), ("5", "5", "0.1"), ("0", "0.3", "0.1"),
    ("0.1", "3.6", "0.1"), ("1.0", "36.0", "1.0"), ("0x1p0", "0x24p0", "0x1p0"),
    ("1e0", "3.6e1", "1e0"), ("+1", "+36", "+1"), ("-36", "-1", "1"), ("0", "65534", "2"),
    ("0", "32766", "1"), ("0", "100", "0.01"), ("-1000000", "1000000", "100"),
    ("1", "36", "0.3333333333"), ("0.1", "0.7", "0.2"), ("1", "36", "35"), ("1", "36", "100"),
    ("1x", "36", "1"), ("1", "36y", "1"), ("1", "36", "1z"), ("1,5", "36", "1"),
    ("1", "36", "1", "extra"), ("1", "36", "1", "2", "3"),
]
BAD_SCALES = [
    ("1", "36", "0"), ("1", "36", "-1"), ("36", "1", "1"), ("0", "32767", "1"),
    ("1e300", "1e300", "1e-300"), ("-inf", "36", "1"), ("1", "inf", "1"), ("1", "36", "nan"),
    ("nan", "36", "1"), ("1", "36"), ("1",), (), ("a", "36", "1"), ("1", "b", "1"),
    ("1", "36", "c"), ("1", "36", "1e-300"), ("0", "1", "0.00001"), ("1e999", "1e999", "1"),
    ("-2147483648", "0", "1"), ("0", "2147483648", "1"), ("2147483647", "2147483647", "1"),
]


def add_scales(corpus, rng):
    for tokens in SCALES:
        for k in range(4):
            try:
                lo, hi, inc = (float.fromhex(t) if t.startswith("0x") else
                               float(t.rstrip("xyz").replace(",", ".")) for t in tokens[:3])
            except ValueError:
                lo, hi, inc = 1.0, 36.0, 1.0
            points = int((hi - lo) / inc) + 1
            conv_kind = rng.choice([None, "linear"])
            forms = Forms(rng, scale=((lo, hi, inc), list(tokens)), conv_kind=conv_kind,
                          points_new=rng.choice([6, 12, 25, 41]) if points > 5000 else None,
                          total_new=rng.randint(50, 3000) if points > 5000 else None)
            reps = "1" if points > 20000 else ("4" if points > 3000 else None)
            control, data = standard_run(rng, forms=forms,
                                         reps=reps, output=rng.choice([None, "report.txt"]))
            corpus.eqsim("scales", "SC-%s-%d" % ("_".join(tokens), k),
                         render_control(rng, control), data)
    for tokens in BAD_SCALES:
        control, data = standard_run(rng, scale=((1.0, 36.0, 1.0), None))
        control.raw(" ".join(("SC",) + tokens))
        corpus.eqsim("scales", "bad-SC-%s" % "_".join(tokens), control.render(shuffle=False),
                     data)
    # Conversions partly or wholly outside the scale: rounding holds them at its ends, and a
    # quarter or more of the old form outside draws a warning, said at the SC line or at I.
    for k in range(50):
        scale_values, scale_tokens = rng.choice([((1.0, 36.0, 1.0), None),
                                                 ((1.0, 36.0, 1.0), ["1", "36", "1"]),
                                                 ((100.0, 130.0, 1.0), ["100", "130", "1"]),
                                                 ((0.0, 10.0, 0.5), ["0", "10", "0.5"])])
        lo, hi = scale_values[0], scale_values[1]
        span = hi - lo
        conv_range = rng.choice([(lo + 0.5 * span, hi + 0.8 * span),
                                 (lo - 0.8 * span, hi - 0.5 * span),
                                 (lo - 0.2 * span, hi + 0.2 * span),
                                 (lo - 0.05 * span, hi + 0.05 * span),
                                 (20.0, 80.0), (hi + 10.0, hi + 50.0), (lo - 50.0, lo - 1.0),
                                 (lo + 0.3 * span, lo + 0.6 * span)])
        forms = Forms(rng, scale=(scale_values, scale_tokens), conv_range=conv_range)
        control, data = standard_run(rng, forms=forms)
        corpus.eqsim("scales", "outside-%d" % k, render_control(rng, control), data)
    # Conversions so large that the statistics over replications overflow.
    for k, value in enumerate(["1e300", "1e200", "1.7e308", "-1e300"]):
        forms = Forms(rng, points_new=8, points_old=8, total_new=200, total_old=200)
        rows = "".join("%d %d %s\n" % (round(forms.new[i]), round(forms.old[i]),
                                        value if i % 2 else "%.1f" % (i * 4.0))
                       for i in range(8))
        for method in (3, 4):
            control, _ = standard_run(rng, forms=forms, method=method, reps="5",
                                      scale=((1.0, 36.0, 1.0), None), output=None)
            corpus.eqsim("scales", "overflow-%s-%s" % (value, method_of(method)),
                         control.render(shuffle=False), rows.encode())


def add_outputs(corpus, rng):
    """Reports to standard output and to files: new, existing, through links, in folders, and
    destinations that cannot be used."""
    def case(name, output, extra=None, setup=(), options=None, template=(), method=None):
        control, data = standard_run(rng, output=output, method=method,
                                     reps=str(rng.choice([2, 5, 20])))
        corpus.eqsim("outputs", name, render_control(rng, control), data, extra=extra,
                     setup=setup, options=options, template=template)

    for k in range(6):
        case("stdout-%d" % k, None)
        case("new-file-%d" % k, "report.txt")
        case("existing-longer-%d" % k, "report.txt", {"report.txt": "old " * 50000})
        case("existing-shorter-%d" % k, "report.txt", {"report.txt": "old\n"})
        case("existing-empty-%d" % k, "report.txt", {"report.txt": ""})
    case("in-folder", "out/report.txt", {"out/earlier.txt": "kept\n"})
    case("in-folder-existing", "out/report.txt", {"out/report.txt": "earlier\n"})
    case("in-nested-folder", "a/b/c/report.txt", {"a/b/c/.keep": ""})
    case("dot-slash", "./report.txt")
    case("double-slash", "out//report.txt", {"out/x": ""})
    case("dot-dot", "out/../report.txt", {"out/x": ""})
    case("name-with-hash", "report#1.txt")
    case("name-with-odd-characters", "r\xe9port-\u00fc$%&.txt")
    case("named-as-the-data-file", "scores.dat")
    case("named-as-the-control-file", "run.ctl")
    case("no-extension", "report")
    case("dev-null", "/dev/null")
    case("dev-stdout", "/dev/stdout")
    case("dev-stderr", "/dev/stderr")
    case("rooted-new", "@CASE@/report.txt", template=["run.ctl"])
    case("rooted-existing", "@CASE@/report.txt", {"report.txt": "earlier\n"},
         template=["run.ctl"])
    case("link-to-existing", "link.txt", {"report.txt": "earlier\n"},
         setup=[["symlink", "report.txt", "link.txt"]])
    case("link-to-missing", "dangling.txt", setup=[["symlink", "gone.txt", "dangling.txt"]])
    case("link-to-missing-folder", "dangling.txt",
         setup=[["symlink", "nowhere/gone.txt", "dangling.txt"]])
    case("link-chain", "l1", {"report.txt": "earlier\n"},
         setup=[["symlink", "l2", "l1"], ["symlink", "report.txt", "l2"]])
    case("link-to-folder", "lf", setup=[["mkdir", "dir"], ["symlink", "dir", "lf"]])
    # Destinations that cannot be used: the run fails before its first replication and leaves
    # everything as it was.
    case("missing-folder", "missing/report.txt")
    case("missing-rooted-folder", "@CASE@/missing/report.txt", template=["run.ctl"])
    case("is-current-folder", ".")
    case("is-a-folder", "dir", setup=[["mkdir", "dir"]])
    case("is-a-folder-slash", "dir/", setup=[["mkdir", "dir"]])
    case("file-as-folder", "scores.dat/report.txt")
    case("loop-of-links", "loop1", setup=[["symlink", "loop2", "loop1"],
                                          ["symlink", "loop1", "loop2"]])
    case("self-link", "self", setup=[["symlink", "self", "self"]])
    case("full-device", "/dev/full")
    case("dev-null-as-folder", "/dev/null/report.txt")
    case("proc-file", "/proc/version")
    case("empty-name-after-slash", "out/", {"out/x": ""})
    case("read-only-file", "report.txt", {"report.txt": "earlier\n"},
         setup=[["immutable", "report.txt"]])
    case("read-only-file-on-stdout", None, {"report.txt": "earlier\n"},
         setup=[["immutable", "report.txt"]])
    # Standard output that cannot take the report, and a report beyond the file size limit.
    for k in range(2):
        case("stdout-full-%d" % k, None, options={"stdout": "full"})
        case("stdout-closed-%d" % k, None, options={"stdout": "closed"})
        case("stdout-broken-pipe-%d" % k, None, options={"stdout": "broken-pipe"})
        case("stdout-full-report-in-file-%d" % k, "report.txt", options={"stdout": "full"})
        case("closed-stdout-named-%d" % k, "/dev/stdout", options={"stdout": "closed"})
        case("file-size-limit-%d" % k, "report.txt", {"report.txt": "earlier\n"},
             options={"file_size": 1024})
        case("file-size-limit-stdout-%d" % k, "/dev/stdout", options={"file_size": 512})


def add_data(corpus, rng):
    """Data files of 4 to 80 score points in every layout the reader takes."""
    for k in range(250):
        forms = Forms(rng, points_new=rng.randint(4, 80))
        control, data = standard_run(rng, forms=forms)
        corpus.eqsim("data", "random-%d-%dx%d" % (k, forms.points_new, forms.points_old),
                     render_control(rng, control), data)
    # Fewer score points for one form than rows: trailing missing entries of each kind.
    for marker in MISSING_MARKERS:
        for which in ("new", "old"):
            points = rng.randint(8, 40)
            other = points - rng.randint(1, 6)
            forms = Forms(rng, points_new=points if which == "old" else other,
                          points_old=other if which == "old" else points)
            style = random_style(rng)
            style.missing_new = style.missing_old = marker
            control, data = standard_run(rng, forms=forms, style=style)
            corpus.eqsim("data", "missing-%s-%s" % (which, marker), render_control(rng, control),
                         data)
    # Empty scores (zero frequencies) inside and at the ends, and spiky populations.
    for shape in ["gappy", "edges", "spike", "flat"]:
        for k in range(8):
            forms = Forms(rng, shapes=(shape, rng.choice([shape, "bb"])))
            control, data = standard_run(rng, forms=forms)
            corpus.eqsim("data", "shape-%s-%d" % (shape, k), render_control(rng, control), data)
    # Line ends, byte-order marks and terminators.
    for crlf in (False, True):
        for bom in (False, True):
            for terminator in ["eof", "eof-bare", "dollar", "dollar-junk", "empty-junk",
                               "dollars"]:
                style = random_style(rng)
                style.crlf, style.bom, style.terminator = crlf, bom, terminator
                control, data = standard_run(rng, style=style)
                corpus.eqsim("data", "ends-%s-%s-%s" % ("crlf" if crlf else "lf",
                                                         "bom" if bom else "nobom", terminator),
                             render_control(rng, control), data)
    # Small totals, fractional totals, and totals of hundreds of thousands to millions.
    for total in [4, 4.4, 4.6, 5, 6.5, 8, 10, 12.5, 20, 33.3, 50]:
        for k in range(2):
            forms = Forms(rng, points_new=rng.choice([4, 5, 6, 10]), total_new=total,
                          total_old=rng.choice([total, 100, 7]))
            style = random_style(rng)
            style.freq_style = "dec"
            control, data = standard_run(rng, forms=forms, style=style,
                                         reps=str(rng.choice([10, 50, 200])))
            corpus.eqsim("data", "small-total-%s-%d" % (total, k), render_control(rng, control),
                         data)
    for total in [250000, 999999.5, 1500000, 4000000, 12000000]:
        forms = Forms(rng, total_new=total, total_old=rng.choice([total, 30000]))
        control, data = standard_run(rng, forms=forms, reps="1" if total > 1e6 else "3")
        corpus.eqsim("data", "large-total-%d" % total, render_control(rng, control), data)
    # Number forms: exponents, leading points, leading zeros, trailing text after a number.
    for k, fmt in enumerate(["%.3e", "%.1E", "%010.2f", "%.0f.", "%g", "%.2fabc", "%d.5"]):
        forms = Forms(rng, points_new=rng.randint(6, 30), total_new=rng.randint(100, 2000))
        rows = []
        for i in range(max(forms.points_new, forms.points_old)):
            def entry(values):
                if i >= len(values):
                    return "*"
                v = values[i]
                return fmt % (int(v) if fmt == "%d.5" else v)
            rows.append("%s %s %s" % (entry(forms.new), entry(forms.old),
                                      "%.4f" % forms.conv[i] if i < forms.points_old else "-"))
        control, _ = standard_run(rng, forms=forms, columns=(1, 2, 3))
        corpus.eqsim("data", "number-form-%d" % k, render_control(rng, control),
                     ("\n".join(rows) + "\n").encode())
    # Rows at the limits: 298 characters, 25 columns and more, 32767 rows.
    forms = Forms(rng, points_new=12, total_new=400)
    control, data = standard_run(rng, forms=forms, columns=(1, 2, 3), output="report.txt",
                                 style=DataStyle())
    corpus.eqsim("data", "row-of-298", control.render(shuffle=False),
                 data + b"* * " + b"x" * 294 + b"\n")
    corpus.eqsim("data", "row-of-30-columns", control.render(shuffle=False),
                 b"".join(line + b" 7" * 27 + b"\n" for line in data.splitlines()))
    corpus.eqsim("data", "rows-32767", control.render(shuffle=False),
                 data + b"* * *\n" * (32767 - 12))
    corpus.eqsim("data", "rows-32767-then-dollar", control.render(shuffle=False),
                 data + b"* * *\n" * (32767 - 12) + b"$\n1 1 1\n")
    # The README's worked example.
    corpus.eqsim("data", "worked-example",
                 b"I scores.dat\nC 2 3 4\nSM Linear\nR 25\nSE 1234\nSC 10 16 0.5\n",
                 b"0    4    3   10.5\n1   10   11   12.4\n2   20   16   14.3\n"
                 b"3   10    5   16.0\n4    6    *   -\n$ anything after this line is ignored\n")
    # Data paths: in folders, rooted, with odd characters.
    for k, name in enumerate(["data/scores.dat", "./scores.dat", "data//scores.dat",
                              "a b.dat", "sc#ores.dat", "d\xe9j\xe0.dat", "@CASE@/scores.dat",
                              "@CASE@/data/../scores.dat"]):
        control, data = standard_run(rng, data_name=name)
        path = name.replace("@CASE@/", "").replace("data/../", "").replace("//", "/")
        corpus.eqsim("data", "path-%d" % k, render_control(rng, control), data, data_name=path,
                     extra={"data/.keep": ""},
                     template=["run.ctl"] if "@CASE@" in name else ())
    # The control file in a folder: paths are taken from the current folder.
    for k in range(4):
        control, data = standard_run(rng, data_name=rng.choice(["scores.dat", "ctl/scores.dat",
                                                                "missing.dat"]))
        corpus.add("data", "control-in-folder-%d" % k,
                   {"ctl/run.ctl": render_control(rng, control), "scores.dat": data,
                    "ctl/scores.dat": data},
                   [["run", "eqsim", ["ctl/run.ctl"], {}],
                    ["run", "eqsim", ["../ctl/run.ctl"], {"cwd": "ctl"}]])


def small_forms_text():
    return ("0 0.2 1.0000\n0.4 1.5 4.0600\n2.3 6.8 7.2400\n8.3 18.1 10.5400\n20.3 32.2 13.9600\n"
            "34.8 39.9 17.5000\n42.5 35.4 21.1600\n37.1 22.4 24.9400\n22.7 9.9 28.8400\n"
            "9.2 2.9 32.8600\n2.3 0.5 37.0000\n0.3 0 41.2600\n")


def garbage(size, seed):
    state = seed
    out = bytearray()
    for _ in range(size):
        state = (state * 1103515245 + 12345) % 2**32
        out.append((state >> 16) & 0xFF)
    return bytes(out)


def add_data_errors(corpus, rng):
    """Data files the reader refuses, each with a control file that would otherwise run."""
    small = small_forms_text()

    def case(name, data, control=None, data_name="scores.dat"):
        text = control or ("I %s\nSM %s\nR 3\nSE %d\n" % (
            data_name, rng.choice(["Mean", "Linear", "None", "Post", "Pre"]),
            rng.randint(1, 99999)))
        if "SM Pre" in text and "P " not in text:
            text += "P 3\n"
        corpus.eqsim("data-errors", name, text,
                     None if data is None else as_bytes(data))

    case("missing-file", None)
    case("empty-file", "")
    case("only-dollar", "$\n" + small)
    case("first-line-empty", "\n" + small)
    case("first-line-crlf-empty", "\r\n" + small)
    case("only-bom", BOM)
    case("binary-garbage", garbage(4096, 2))
    case("nul-in-row", "1 2 \0" + "3\n" + small)
    case("nul-in-later-row", small + "1 2\0 3\n")
    case("truncated-row", small[:-9])
    case("row-of-299", small + "* * " + "x" * 295 + "\n")
    case("row-of-298-and-cr", small + "* * " + "x" * 294 + "\r\n")
    case("row-of-a-megabyte", small + "7" * (1 << 20) + "\n")
    case("rows-32768", "1 1 1\n" * 32768)
    case("too-few-columns", small + "1 2\n")
    case("too-few-columns-first-row", "1 2\n" + small)
    case("one-column", "5\n6\n7\n8\n")
    for name, sep in [("comma", ","), ("semicolon", ";"), ("bar", "|"), ("comma-blank", ", "),
                      ("tab-comma", "\t,")]:
        case("separator-" + name, small.replace(" ", sep))
    case("header-line", "new old scale\n" + small)
    case("header-line-hash", "# new old scale\n" + small)
    case("header-line-short", "raw new\n" + small)
    case("header-numbers-later", "x y z\n" + small)
    first_rows = "".join(small.splitlines(True)[:6])
    for k, marker in enumerate(["*", "-", "NA", "?", "-1", "+2", "-.5", "x1"]):
        case("number-after-missing-new-%d" % k, first_rows + marker + " 1 1\n" + "5 5 5\n" * 3)
        case("number-after-missing-old-%d" % k, first_rows + "1 " + marker + " 1\n" +
             "5 5 5\n" * 3)
    case("signed-first-row", "-1 2 3\n" + small)
    case("new-entry-overflows", "1e999 1 1\n" + small)
    case("old-entry-overflows", "1 1e999 1\n" + small)
    case("scale-entry-overflows", "1 1 1e999\n" + small)
    case("scale-entry-inf", "1 1 inf\n" + small)
    case("scale-entry-nan", small + "1 1 nan\n")
    case("scale-entry-word", small + "1 1 abc\n")
    case("new-entry-point", ". 1 1\n" + small)
    case("new-entry-point-e", ".e5 1 1\n" + small)
    case("three-score-points", "1 1 1\n2 2 2\n3 3 3\n")
    case("old-three-score-points", "1 1 1\n2 2 2\n3 3 3\n4 * 4\n5 * 5\n")
    case("new-three-score-points", "1 1 1\n2 2 2\n3 3 3\n* 4 4\n* 5 5\n")
    case("new-no-score-points", "* 1 1\n* 2 2\n* 3 3\n* 4 4\n")
    case("total-zero", "0 1 1\n0 2 2\n0 3 3\n0 4 4\n")
    case("old-total-zero", "1 0 1\n2 0 2\n3 0 3\n4 0 4\n")
    case("total-rounds-to-zero", "0.1 1 1\n0.1 2 2\n0.1 3 3\n0.1 4 4\n")
    case("total-rounds-to-zero-exactly-half", "0.1 1 1\n0.1 2 2\n0.2 3 3\n0.1 4 4\n")
    case("total-beyond-32-bits", "1073741824 1 1\n1073741824 2 2\n0 3 3\n0 4 4\n")
    case("total-just-beyond-32-bits", "2147483647 1 1\n0.5 2 2\n0 3 3\n0 4 4\n")
    case("huge-frequencies", "1e300 1 1\n1e300 2 2\n1 3 3\n1 4 4\n")
    case("frequencies-overflow-in-sum", "1.7e308 1 1\n1.7e308 2 2\n1 3 3\n1 4 4\n")
    case("data-file-is-a-folder", None, "I data\nSM Mean\nR 3\nSE 5\n")
    corpus.add("data-errors", "data-file-is-a-folder-really",
               {"run.ctl": "I data\nSM Mean\nR 3\nSE 5\n", "data/x": ""},
               [["run", "eqsim", ["run.ctl"], {}]])
    case("data-file-is-dot", None, "I .\nSM Mean\nR 3\nSE 5\n")
    case("data-file-is-dev-null", None, "I /dev/null\nSM Mean\nR 3\nSE 5\n")
    case("data-file-is-dev-zero", None, "I /dev/zero\nSM Mean\nR 3\nSE 5\n")
    case("data-file-in-missing-folder", None, "I nowhere/scores.dat\nSM Mean\nR 3\nSE 5\n")
    case("no-data-file-named", small, "SM Mean\nR 3\nSE 5\nO report.txt\n")
    case("data-file-named-after-empty-line", small, "SM Mean\nR 3\nSE 5\n\nI scores.dat\n")
    # A data file whose trailing rows are missing but too few score points remain, at each
    # column layout.
    for k in range(6):
        columns = tuple(rng.sample(range(1, 7), 3))
        lines = []
        for i in range(6):
            row = [str(i)] * 6
            row[columns[0] - 1] = str(i + 1) if i < 3 else "*"
            row[columns[1] - 1] = str(2 * i + 1)
            row[columns[2] - 1] = str(i)
            lines.append(" ".join(row))
        case("layout-%d" % k, "\n".join(lines) + "\n",
             "I scores.dat\nC %d %d %d\nSM Mean\nR 2\nSE 9\n" % columns)


def add_control_errors(corpus, rng):
    """Every refused control file and line, the command line, and the files that are no control
    files at all."""
    small = small_forms_text()
    base = "I scores.dat\nO report.txt\nSM Mean\nR 2\nSE 7\n"

    def case(name, control, args=None, options=None, data=small):
        corpus.eqsim("control-errors", name, control, data, args=args, options=options,
                     extra={"report.txt": "an earlier report\n"})

    # The command line.
    case("no-argument", base, args=[])
    case("two-arguments", base, args=["run.ctl", "run.ctl"])
    case("three-arguments", base, args=["a", "b", "c"])
    case("help", base, args=["--help"])
    case("help-short", base, args=["-h"])
    case("version", base, args=["--version"])
    case("help-and-file", base, args=["--help", "run.ctl"])
    case("unknown-option-as-file", base, args=["--bogus"])
    case("dash", base, args=["-"])
    case("missing-control-file", base, args=["missing.ctl"])
    case("control-file-is-folder", base, args=["."])
    case("control-file-dev-zero", base, args=["/dev/zero"])
    case("control-file-dev-null-clock-ok", base, args=["/dev/null"])
    case("empty-argument", base, args=[""])
    case("control-in-missing-folder", base, args=["nowhere/run.ctl"])
    # Whole files.
    case("binary-garbage", garbage(4096, 1))
    case("binary-garbage-2", garbage(300, 7))
    case("empty-clock-ok", "")
    case("comments-only-clock-ok", "# nothing set\n#I scores.dat\n")
    case("bom-only-clock-ok", BOM)
    case("partial-bom", b"\xef\xbbI scores.dat\nSE 3\n")
    case("bom-twice", BOM + BOM + base.encode())
    case("truncated-in-keyword", base + "SM Me")
    case("truncated-in-scale", base + "SC 1 36")
    case("truncated-after-s", base + "S")
    # Lines.
    case("line-of-blanks", base + "   \t \n")
    case("line-of-one-blank", base + " \n")
    case("line-of-tab", base + "\t\n")
    case("indented-hash", base + "  # note\n")
    case("nul-in-setting", base + "R 3\0\n")
    case("nul-alone", base + "\0\n")
    case("single-s", base + "S 7\n")
    case("s-unknown-second", base + "SX 7\n")
    case("s-digit", base + "S1 7\n")
    for k, keyword in enumerate(["X", "Q", "Z", "A", "D", "1", "=", "-R", "$"]):
        case("unknown-keyword-%d" % k, base + keyword + " 1\n")
    for keyword in ["R", "P", "I", "O", "SE", "SM", "SC", "C"]:
        case("%s-without-value" % keyword, base + keyword + "\n")
        case("%s-too-many" % keyword, base + keyword + " 1 2 3 4 5\n")
    case("R-extra-value", base + "R 10 20\n")
    case("I-extra-value", base + "I scores.dat other.dat\n")
    case("O-with-blank", base + "O my report.txt\n")
    case("trailing-comment", base + "R 10 # ten\n")
    case("value-not-a-number", base + "R ten\n")
    case("P-not-a-number", base + "P x\n")
    case("line-148", base + "R 3" + " " * 145 + "\n")
    case("line-149", base + "R 3" + " " * 146 + "\n")
    case("line-148-and-cr", base + "R 3" + " " * 145 + "\r\n")
    case("comment-149", "#" * 149 + "\n" + base)
    case("comment-of-a-megabyte", "#" + "#" * (1 << 20) + "\n" + base)
    case("token-of-a-megabyte", base + "I " + "d" * (1 << 20) + "\n")
    case("token-of-148", "I " + "d" * 146 + "\n" + base[13:])
    # Final values that cannot run.
    case("replications-zero", base + "R 0\n")
    case("seed-largest", base + "SE 2147483647\n")
    case("column-zero", base + "C 0 2 3\n")
    case("smoothing-nan", base + "P nan\n")
    case("scale-increment-zero", base + "SC 1 36 0\n")
    # The smoothing parameter against the method.
    case("post-above-one", base + "SM Post\nP 1.0001\n")
    case("pre-below-one", base + "P 0.999\nSM Pre\n")
    case("post-at-one", base + "SM Post\nP 1.0\n")
    case("pre-huge", base + "SM Pre\nP 1e300\n")
    case("post-default-parameter", base + "SM Post\n")
    case("pre-default-parameter", base + "SM Pre\n")
    # Quirks of reading that are no errors.
    case("windows-line-ends", (base + "SM None\n").replace("\n", "\r\n"))
    case("lone-carriage-returns", "I scores.dat\rR 5\nSE 3\rSE 9\nSM Mean\rSM Pre\n")
    case("byte-order-mark", BOM + base.encode())
    case("no-final-newline", base + "SM Linear")
    case("ends-at-crlf-empty-line", base + "\r\nS 7\n")
    case("ends-at-empty-line", base + "\nR -1\nbogus\n")
    case("bad-value-overridden", base + "R 0\nR 2\n")
    case("vertical-tab-in-number", base + "R \v5\n")
    case("form-feed-keyword", base + "\fR 5\n")
    case("keyword-words", "Input scores.dat\nOutput report.txt\nSMethod Mean\nReps 2\n"
         "Seed 7\nColumns 1 2 3\nScale 1 36 1\nParameter 0.1\n")
    case("hex-scale", base + "SC 0x1p0 0x24p0 0x1p0\n")
    case("utf8-in-comment", "# r\u00e9sum\u00e9 \u2014 \u6570\u5b66\n" + base)
    case("latin1-in-path", b"I scores\xe9.dat\nSM Mean\nR 2\nSE 7\n")


def add_warnings(corpus, rng):
    """Every warning, alone and together, on completed runs and before failures."""
    def run(name, control, data=None):
        if data is None:
            _, data = standard_run(rng, output=None, method=3, reps="3", columns=(1, 2, 3))
        corpus.eqsim("warnings", name, control, data)

    # Settings after the empty line that ends them: the first such line is pointed out;
    # comments and empty lines after it are silent.
    for k, after in enumerate([["R 5"], ["# only a comment"], ["", "", "SM Linear"],
                               ["   ", "R 5"], ["# c", "", "bogus line"], ["\tSE 5"],
                               ["#R 5", "# x"], [""], ["x" * 400], ["  # indented"],
                               ["\r", "R 2"], ["\0"]]):
        control, data = standard_run(rng, output=rng.choice([None, "report.txt"]))
        corpus.eqsim("warnings", "after-empty-line-%d" % k,
                     control.render(shuffle=False, comments=False, after=after), data)
    for k in range(6):
        control, data = standard_run(rng)
        corpus.eqsim("warnings", "after-empty-line-crlf-%d" % k,
                     control.render(shuffle=False, comments=False, after=["R 7", "SE 3"],
                                    crlf=True), data)
    # Numbers followed by other characters, in every keyword that reads numbers.
    for k, (key, tokens) in enumerate([
            ("R", ["10x"]), ("R", ["1e3"]), ("R", ["1,000"]), ("R", ["20k"]), ("R", ["5.9"]),
            ("P", ["0,3"]), ("P", ["0.3x"]), ("P", ["1e-1e"]), ("P", ["6,5"]),
            ("SE", ["12x"]), ("SE", ["5.5"]), ("SE", ["7,000"]),
            ("C", ["1x", "2", "3"]), ("C", ["1", "2y", "3z"]), ("C", ["1.", "2.", "3."]),
            ("SC", ["1x", "36", "1"]), ("SC", ["1", "36,0", "1"]), ("SC", ["1", "36", "1;"]),
            ("SC", ["0,5", "36", "1"])]):
        for method in (rng.randint(1, 5), rng.randint(1, 5)):
            if key == "P":
                method = rng.choice([1, 3, 4, 5])
            smoothing = "6,5" if (key, tokens) == ("P", ["6,5"]) else None
            control, data = standard_run(rng, method=method if smoothing is None else 2,
                                         smoothing=smoothing, reps="5", columns=(1, 2, 3))
            control.drop(key).set(key, *tokens, keyword=key)
            corpus.eqsim("warnings", "ignored-text-%s-%d-%s" % (key, k, method_of(method)),
                         control.render(shuffle=False), data)
    # Several warnings at once, and warnings before a failure.
    run("warnings-then-bad-method", "I scores.dat\nR 10x\nSE 4k\nSM Loglinear\nSM 2\n")
    run("warnings-then-bad-seed", "I scores.dat\nR 3x\nSM Median\nSE 2147483647\n")
    run("warnings-then-smoothing", "I scores.dat\nR 3x\nSM Postal\nP 1.5x\nSE 4\n")
    run("warnings-then-empty-line", "I scores.dat\nR 3x\nSM Nothing\nSE 4\n\nR 5\n")
    run("warnings-then-missing-data", "I missing.dat\nR 3x\nSM Meansigma\nSE 4\n")
    run("warnings-then-bad-output", "I scores.dat\nR 3x\nSM Lx\nSE 4\nO nowhere/r.txt\n")
    run("warnings-all", "I scores.dat\nR 3x\nSM Mean-sigma\nP 0,3\nSE 11q\nC 1x 2 3\n"
        "SC 20x 80 1\n\nR 9\n")
    # The scale warning at the SC line, at the I line, and with no line (the default scale).
    for k in range(12):
        forms = Forms(rng, conv_range=rng.choice([(20.0, 80.0), (40.0, 60.0), (-30.0, 0.0)]))
        control, data = standard_run(rng, forms=forms, scale=((1.0, 36.0, 1.0), None))
        corpus.eqsim("warnings", "scale-default-%d" % k, render_control(rng, control), data)
    # The warning's edges: a quarter of the old form's population outside (or a little less, or
    # more), by half an increment (or a little less, or more), at either end of the scale.
    for share, low, high in [("25", "0", "30"), ("24.9", "0", "30"), ("25.1", "0", "30"),
                             ("25", "0.5", "30"), ("25", "0.4999", "30"), ("25", "0.5001", "30"),
                             ("25", "10", "36.5"), ("25", "10", "36.5001"), ("24", "-5", "40")]:
        rest = "%.4f" % ((100.0 - float(share)) / 3.0)
        old = [share, rest, rest, rest] if low != "10" else [rest, rest, rest, share]
        conv = [low, "12", "24", high]
        if low == "-5":
            old, conv = ["12", "64", "12", "12"], ["-5", "18", "20", "40"]
        rows = "".join("%d %s %s\n" % (10 + i, old[i], conv[i]) for i in range(4))
        for scale in (None, "SC 1 36 1\n"):
            corpus.eqsim("warnings", "scale-edge-%s-%s-%s%s" % (share, low, high,
                                                                "-SC" if scale else ""),
                         "I scores.dat\nSM Mean\nR 3\nSE 11\n" + (scale or ""), rows)
    for k in range(6):
        forms = Forms(rng, conv_range=(150.0, 190.0))
        control, data = standard_run(rng, forms=forms,
                                     scale=((100.0, 160.0, 1.0), ["100", "160", "1"]))
        corpus.eqsim("warnings", "scale-given-%d" % k, render_control(rng, control), data)


def add_failures(corpus, rng):
    """Methods that fail on a replication, from tiny or degenerate populations."""
    corpus.eqsim("failures", "linear-without-spread",
                 "I scores.dat\nO report.txt\nSM Linear\nR 2\nSE 7\n",
                 "0 0 1\n7 0 2\n0 9 3\n0 0 4\n", extra={"report.txt": "earlier\n"})
    for method in range(1, 6):
        for data in ["0 0 1\n7 0 2\n0 9 3\n0 0 4\n", "0 0 1\n0 0 2\n5 5 3\n0 0 4\n",
                     "1 0 1\n0 0 2\n0 0 3\n0 1 4\n", "1 1 1\n0 0 2\n0 0 3\n0 0 4\n0 0 5\n",
                     "0.6 0.6 1\n0 0 2\n0 0 3\n0.6 0.6 4\n"]:
            corpus.eqsim("failures", "degenerate-%s" % method_of(method),
                         "I scores.dat\nSM %s\nP %s\nR 4\nSE %d\n" % (
                             rng.choice(METHOD_WORDS[method]),
                             "2" if method == 2 else "0.3", rng.randint(1, 9999)), data)
    # Tiny samples: some replications draw samples the methods cannot equate.
    for k in range(40):
        method = (k % 5) + 1
        forms = Forms(rng, points_new=rng.choice([4, 5, 8, 12, 20, 40]),
                      total_new=rng.choice([4, 5, 6, 8, 10, 15]),
                      total_old=rng.choice([4, 5, 6, 8, 10, 15]),
                      shapes=(rng.choice(["spike", "edges", "bb"]),
                              rng.choice(["spike", "edges", "bb"])))
        smoothing = rng.choice(["2", "3", "6", "10"]) if method == 2 else None
        control, data = standard_run(rng, forms=forms, method=method, smoothing=smoothing,
                                     reps=str(rng.choice([20, 100, 300])))
        corpus.eqsim("failures", "tiny-samples-%d-%s" % (k, method_of(method)),
                     render_control(rng, control), data)
    # High log-linear degrees on small samples: the fit may not converge.
    for k in range(20):
        forms = Forms(rng, points_new=rng.choice([20, 30, 41, 60]),
                      total_new=rng.choice([30, 60, 100, 200]),
                      total_old=rng.choice([30, 60, 100, 200]))
        control, data = standard_run(rng, forms=forms, method=2,
                                     smoothing=str(rng.choice([10, 15, 20, 30, 59])), reps="5")
        corpus.eqsim("failures", "pre-high-degree-%d" % k, render_control(rng, control), data)
    # Storage that runs out: a histogram of 2000 score points by 32767 scale points under an
    # address space of 128 MB.
    corpus.eqsim("failures", "histogram-beyond-address-space",
                 "I scores.dat\nO report.txt\nSM Mean\nR 1\nSE 7\nSC 0 32766 1\n",
                 "1 1 1\n" * 2000, extra={"report.txt": "earlier\n"},
                 options={"address_space": 128 << 20})
    # The spline's vectors for 30000 score points under an address space of 18 MB, which holds
    # the data and the sampling tables but not the spline: the three fixed lines and status 1.
    # The margin is a few megabytes either way, so a build that holds more or less storage
    # before the spline may move this case to another outcome.
    n = 30000
    rows = "".join("%.3f %.3f %.4f\n" % (f, f * 1.01, 1 + 35 * i / (n - 1)) for i, f in
                   ((i, 10.0 * (1.0 - t * t) + 0.5) for i, t in
                    ((i, (i - n / 2) / (n / 2)) for i in range(n))))
    corpus.eqsim("failures", "spline-beyond-address-space",
                 "I scores.dat\nSM Post\nP 0.3\nR 1\nSE 5\n", rows,
                 options={"address_space": 18 << 20})


# ---------------------------------------------------------------------------------------------
# eqsim-study


STUDY_WORDS = {
    1: ["Post", "post", "POST", "Postsmoothing", "Po", "po", "Post-Smoothing"],
    2: ["Pre", "pre", "PRE", "Presmoothing", "Pr", "pr"],
    3: ["None", "none", "N", "n", "NONE", "No"],
    4: ["Linear", "linear", "L", "Lin", "LINEAR", "Loglinear"],
    5: ["Mean", "mean", "M", "MEAN", "Me", "Mean-sigma"],
}


def study_keyword(rng, word):
    return rng.choice([word, word, word, word.upper(), word.capitalize()])


class Study:
    """A study file with its data files."""

    def __init__(self, rng):
        self.rng = rng
        self.lines = []
        self.files = {}
        self.conditions = 0
        self.cost = 0.0

    def data(self, path, forms, columns=None, scale=None, criterion_column=None, style=None):
        rng = self.rng
        line = study_keyword(rng, "data") + " " + path
        opts = []
        if columns is not None:
            opts.append(study_keyword(rng, "columns") + " %d %d %d" % columns)
        if scale is not None:
            opts.append(study_keyword(rng, "scale") + " " + " ".join(scale))
        rng.shuffle(opts)
        line += "".join(" " + o for o in opts)
        self.lines.append(line)
        cols = columns or (1, 2, 3)
        style = style or random_style(rng, cols)
        if criterion_column is not None:
            style.width = max(style.width or 0, criterion_column, *cols)
        data = render_data(rng, forms.new, forms.old, forms.conv, style)
        if criterion_column is not None:
            data = add_criterion_column(rng, data, forms, criterion_column, style)
        self.files[path] = data
        return self

    def line(self, text):
        self.lines.append(text)
        return self

    def render(self, crlf=False, bom=False, comments=True):
        rng = self.rng
        lines = list(self.lines)
        if comments:
            for _ in range(rng.randint(0, 3)):
                lines.insert(rng.randint(0, len(lines)),
                             rng.choice(["# a comment", "", "   ", "\t# indented comment", ""]))
            lines = [l + (rng.choice(["", "", "", "  # why", "\t#note"]) if l and not
                          l.lstrip().startswith("#") else "") for l in lines]
        end = "\r\n" if crlf else "\n"
        text = (end.join(lines) + end).encode("utf-8")
        return BOM + text if bom else text


def add_criterion_column(rng, data, forms, column, style):
    """Puts the criterion's equated raw scores in column (1-based) of every row that has a
    new-form score; other rows keep their filler there."""
    had_bom = data.startswith(BOM)
    body = data[3:] if had_bom else data
    end = b"\r\n" if style.crlf else b"\n"
    lines = body.split(end)
    out = []
    for i, line in enumerate(lines):
        if i < forms.points_new:
            tokens = line.decode("latin-1").split()
            while len(tokens) < column:
                tokens.append("0")
            x = i * (forms.points_old - 1) / max(1, forms.points_new - 1)
            tokens[column - 1] = "%.6f" % (x + rng.uniform(-0.4, 0.4))
            line = " ".join(tokens).encode("latin-1")
        out.append(line)
    body = end.join(out)
    return BOM + body if had_bom else body


def random_study(rng, data_sets=None, max_reps=200, safe=False):
    """A random study. A safe one has no sample sizes or degrees at which a method may fail on a
    replication."""
    study = Study(rng)
    count = data_sets or rng.choice([1, 1, 1, 2, 2, 3])
    criterion = rng.choice(["None", "None", "Same", "column", None])
    crit_column = 7 if criterion == "column" else None
    total_points = 0
    for d in range(count):
        scale_values, scale_tokens = rng.choice([
            ((1.0, 36.0, 1.0), None), ((1.0, 36.0, 1.0), ["1", "36", "1"]),
            ((0.0, 100.0, 1.0), ["0", "100", "1"]), ((1.0, 36.0, 0.5), ["1", "36", "0.5"]),
            ((100.0, 130.0, 0.1), ["100", "130", "0.1"]), ((0.3, 35.7, 1.0), ["0.3", "35.7", "1"]),
            ((-10.0, 10.0, 0.25), ["-10", "10", "0.25"]), ((1.0, 36.0, 1.0), ["1e0", "3.6e1", "1"])])
        forms = Forms(rng, points_new=rng.choice([5, 8, 12, 21, 30, 41, 61]),
                      total_new=rng.randint(500 if safe else 50, 6000),
                      scale=(scale_values, scale_tokens),
                      shapes=("bb", "bb") if safe else (None, None))
        columns = None if rng.random() < 0.6 else rng.choice([(1, 2, 3), (2, 3, 4), (4, 2, 6),
                                                               (3, 1, 2)])
        folder = rng.choice(["", "", "data/", "sets/forms/"])
        name = folder + rng.choice(["form%d.dat" % d, "set-%d.txt" % d, "f#%d.dat" % d,
                                    "scores%d" % d])
        study.data(name, forms, columns, scale_tokens, crit_column)
        total_points += forms.points_new
    sizes = []
    if rng.random() < 0.8:
        for _ in range(rng.randint(1, 2)):
            tokens = []
            for _ in range(rng.randint(1, 3)):
                if rng.random() < 0.6:
                    n = rng.choice([200, 500, 1000, 3000] if safe else
                                   [10, 25, 50, 100, 200, 500, 1000, 3000])
                    tok = str(n)
                    pair = (n, n)
                else:
                    a = rng.choice([300, 500, 2000] if safe else [10, 50, 100, 500, 2000])
                    b = rng.choice([300, 1500] if safe else [20, 100, 300, 1500])
                    tok = "%d/%d" % (a, b)
                    pair = (a, b)
                if pair not in sizes:
                    sizes.append(pair)
                    tokens.append(tok)
            if tokens:
                study.line(study_keyword(rng, "sizes") + " " + " ".join(tokens))
    methods = []
    for number in rng.sample([1, 1, 2, 2, 3, 4, 5], rng.randint(1, 5)):
        word = rng.choice(STUDY_WORDS[number])
        if number == 1:
            parameter = rng.choice([None, "0.1", "0.3", "0", "1", "0.05", "2.5e-1", "-1"])
        elif number == 2:
            parameter = rng.choice(["1", "2", "3", "4"] if safe else
                                   ["1", "2", "3", "4", "6", "8", "+5"])
        else:
            parameter = None
        key = (number, parameter)
        if number == 1 and parameter in (None, "2.5e-1"):
            key = (1, "0.25")
        if key in methods:
            continue
        methods.append(key)
        study.line(study_keyword(rng, "method") + " " + word +
                   ("" if parameter is None else " " + parameter))
    pairs = max(1, len(sizes))
    per_rep = sum(a + b for a, b in sizes) / pairs if sizes else 6000
    budget = 4e6 / (count * pairs * (per_rep + 3000.0 * len(methods)))
    reps = max(1, min(max_reps, int(budget)))
    reps = rng.choice([reps, reps, max(1, reps // 2), 1, min(reps, 7)])
    study.line(study_keyword(rng, "replications") + " " + str(reps))
    study.line(study_keyword(rng, "seed") + " " + seed_token(rng))
    if criterion == "column":
        study.line(study_keyword(rng, "criterion") + " " + study_keyword(rng, "column") + " 7")
    elif criterion is not None:
        study.line(study_keyword(rng, "criterion") + " " + study_keyword(rng, criterion.lower()))
    study.conditions = count * pairs
    return study


def add_studies(corpus, rng):
    """Valid studies, each run once (with various --jobs)."""
    for k in range(60):
        study = random_study(rng)
        output = rng.choice([None, "results", "out/results", "res#1", "./results"])
        if output is not None:
            study.line(study_keyword(rng, "output") + " " + output)
        if rng.random() < 0.5:
            rng.shuffle(study.lines)
        name = rng.choice(["study.txt", "study.txt", "math.study", "study", ".study",
                           "s.tar.txt"])
        folder = rng.choice(["", "", "", "studies/"])
        files = {folder + n: d for n, d in study.files.items()}
        files[folder + name] = study.render(crlf=rng.random() < 0.1, bom=rng.random() < 0.1)
        jobs = rng.choice([["--jobs", "1"], ["--jobs", "2"], ["--jobs=2"], ["--jobs=1"], [],
                           ["--jobs", "3"]])
        args = [folder + name] + jobs if rng.random() < 0.7 else jobs + [folder + name]
        corpus.add("studies", "study-%d" % k, files, [["run", "eqsim-study", args, {}]])
    # Limits that pass: 100 data sets, 1000 pairs of sizes, 100 methods.
    forms = Forms(rng, points_new=6, total_new=60, scale=DEFAULT_SCALE)
    study = Study(rng)
    for d in range(100):
        study.lines.append("data d%d.dat scale %d %d 1" % (d, d, d + 35))
        study.files["d%d.dat" % d] = forms.render(rng, DataStyle())
    study.line("method Mean\nreplications 1\nseed 77")
    corpus.add("studies", "hundred-data-sets", dict(study.files, **{"s.txt": study.render(
        comments=False)}), [["run", "eqsim-study", ["s.txt", "--jobs", "2"], {}]])
    study = Study(rng)
    study.data("d.dat", forms, style=DataStyle())
    for line in range(10):
        study.line("sizes " + " ".join("%d/%d" % (10 + i // 40, 10 + i % 40)
                                       for i in range(100 * line, 100 * line + 100)))
    study.line("method None\nreplications 1\nseed 78")
    corpus.add("studies", "thousand-size-pairs", dict(study.files, **{"s.txt": study.render(
        comments=False)}), [["run", "eqsim-study", ["s.txt", "--jobs", "2"], {}]])
    study = Study(rng)
    study.data("d.dat", forms, style=DataStyle())
    for m in range(100):
        study.line("method Post %g" % (m / 100.0))
    study.line("sizes 40\nreplications 2\nseed 79")
    corpus.add("studies", "hundred-methods", dict(study.files, **{"s.txt": study.render(
        comments=False)}), [["run", "eqsim-study", ["s.txt", "--jobs", "2"], {}]])


def add_study_runs(corpus, rng):
    """Shards and their merge, and one study on one thread and on two."""
    for k, shards in enumerate([2, 3, 4, 2, 5, 7]):
        study = random_study(rng, data_sets=rng.choice([1, 2, 3]), safe=True)
        study.line("output results")
        files = dict(study.files)
        files["study.txt"] = study.render()
        steps = []
        order = list(range(1, shards + 1))
        if k % 2:
            order.reverse()
        for i in order:
            steps.append(["run", "eqsim-study", ["study.txt", "--shard", "%d/%d" % (i, shards),
                                                 "--jobs", rng.choice(["1", "2"])], {}])
        steps.append(["run", "eqsim-study", ["--merge", "study.txt"], {}])
        # The same study in one run, beside the merged one.
        whole = files["study.txt"].replace(b"output results", b"output whole")
        files["whole.txt"] = whole
        steps.append(["run", "eqsim-study", ["whole.txt", "--jobs", "2"], {}])
        corpus.add("study-runs", "shards-%d-of-%d" % (k, shards), files, steps)
    # Shard arguments spelled --shard=I/N, and more shards than conditions.
    study = random_study(rng, data_sets=1, safe=True)
    files = dict(study.files, **{"study.txt": study.render()})
    steps = [["run", "eqsim-study", ["--shard=%d/6" % i, "study.txt"], {}] for i in range(1, 7)]
    steps.append(["run", "eqsim-study", ["--merge", "study.txt"], {}])
    corpus.add("study-runs", "shards-beyond-conditions", files, steps)
    for k in range(8):
        study = random_study(rng, safe=k < 6)
        files = dict(study.files, **{"study.txt": study.render()})
        corpus.add("study-runs", "jobs-1-then-2-%d" % k, files,
                   [["run", "eqsim-study", ["study.txt", "--jobs", "1"], {}],
                    ["run", "eqsim-study", ["study.txt", "--jobs", "2"], {}],
                    ["run", "eqsim-study", ["study.txt", "--jobs", "4"], {}]])
    # Run from another folder: paths are taken from the study file's folder.
    for k in range(3):
        study = random_study(rng)
        files = {"proj/" + n: d for n, d in study.files.items()}
        files["proj/study.txt"] = study.render()
        corpus.add("study-runs", "from-elsewhere-%d" % k, files,
                   [["run", "eqsim-study", ["proj/study.txt", "--jobs", "1"], {}],
                    ["run", "eqsim-study", ["../proj/study.txt", "--jobs", "2"],
                     {"cwd": "other"}],
                    ["run", "eqsim-study", ["@CASE@/proj/study.txt"], {}]],
                   setup=[["mkdir", "other"]])
    # A study at its populations' rounded totals against eqsim on the same settings.
    for method, parameter in [(1, "0.2"), (2, "4"), (3, None), (4, None), (5, None)]:
        forms = Forms(rng, points_new=21, total_new=rng.randint(300, 2000), scale=DEFAULT_SCALE)
        data = forms.render(rng, DataStyle())
        seed = rng.randint(1, 99999)
        study_text = "data scores.dat\nmethod %s%s\nreplications 40\nseed %d\n" % (
            method_of(method), "" if parameter is None else " " + parameter, seed)
        control = "I scores.dat\nSM %s\n%sR 40\nSE %d\n" % (
            method_of(method), "" if parameter is None else "P %s\n" % parameter, seed)
        corpus.add("study-runs", "as-eqsim-%s" % method_of(method),
                   {"study.txt": study_text, "run.ctl": control, "scores.dat": data},
                   [["run", "eqsim-study", ["study.txt"], {}], ["run", "eqsim", ["run.ctl"], {}]])
    # Outputs over earlier ones: a second run replaces them.
    study = random_study(rng)
    study.line("output results")
    files = dict(study.files, **{"study.txt": study.render(), "results/scores.csv": "old\n",
                                 "results/other.txt": "kept\n"})
    corpus.add("study-runs", "over-earlier-outputs", files,
               [["run", "eqsim-study", ["study.txt"], {}]])
    # The command line.
    for k, args in enumerate([["--help"], ["-h"], ["--version"]]):
        corpus.add("study-runs", "option-%d" % k, {}, [["run", "eqsim-study", args, {}]])


def manifest_digest(data):
    h = 0xcbf29ce484222325
    for b in data:
        h ^= b
        h = (h * 0x100000001b3) % 2**64
    return "%016x" % h


def add_study_errors(corpus, rng):
    """Every kind of error of the study file, its data, its outputs and the command line."""
    forms = Forms(rng, points_new=12, total_new=500, scale=DEFAULT_SCALE)
    data = forms.render(rng, DataStyle())
    head = "data scores.dat\nseed 5\noutput results\n"

    def case(name, text, args=None, files=None, steps=None, setup=(), options=None):
        all_files = {"scores.dat": data, "study.txt": text}
        all_files.update(files or {})
        all_files = {k: v for k, v in all_files.items() if v is not None}
        steps = steps or [["run", "eqsim-study", ["study.txt"] if args is None else args,
                           options or {}]]
        corpus.add("study-errors", name, all_files, steps, setup)

    # The command line.
    case("no-argument", head + "method None\n", args=[])
    case("unknown-option", head + "method None\n", args=["study.txt", "--fast"])
    case("jobs-zero", head + "method None\n", args=["study.txt", "--jobs", "0"])
    case("jobs-word", head + "method None\n", args=["study.txt", "--jobs", "two"])
    case("jobs-missing-value", head + "method None\n", args=["study.txt", "--jobs"])
    case("jobs-negative", head + "method None\n", args=["study.txt", "--jobs=-1"])
    case("shard-zero", head + "method None\n", args=["study.txt", "--shard", "0/2"])
    case("shard-beyond", head + "method None\n", args=["study.txt", "--shard", "3/2"])
    case("shard-of-zero", head + "method None\n", args=["study.txt", "--shard", "1/0"])
    case("shard-no-slash", head + "method None\n", args=["study.txt", "--shard", "2"])
    case("two-study-files", head + "method None\n", args=["study.txt", "study.txt"])
    case("merge-with-jobs", head + "method None\n", args=["--merge", "study.txt", "--jobs", "2"])
    case("merge-with-shard", head + "method None\n",
         args=["--merge", "study.txt", "--shard", "1/2"])
    case("missing-study-file", None, args=["missing.txt"])
    case("study-file-is-folder", None, args=["."])
    case("study-file-dev-zero", None, args=["/dev/zero"])
    case("study-file-dev-null", None, args=["/dev/null"])
    # The file as a whole.
    case("binary-garbage", garbage(4096, 3))
    case("larger-than-a-mebibyte", head + "method None\n" + ("#" * 1000 + "\n") * 1100)
    case("line-of-4096-is-fine", head + "method None\n# " + "x" * 4094 + "\n")
    case("line-of-4097", head + "method None\n# " + "x" * 4095 + "\n")
    case("nul-byte", head + "method None\0\n")
    case("lone-carriage-return", head + "method None\rmethod Mean\n")
    case("control-character", head + "method None\x1b\n")
    case("delete-character", head + "method None\x7f\n")
    case("no-data", "seed 5\nmethod None\n")
    case("no-method", head)
    case("empty", "")
    case("comments-only", "# nothing\n\n   \n")
    # Keywords and data lines.
    case("unknown-keyword", head + "method None\nmethods Mean\n")
    case("keyword-datum", "datum scores.dat\nmethod None\nseed 5\n")
    case("keyword-abbreviated", "dat scores.dat\nmethod None\nseed 5\n")
    case("data-without-path", "data\nmethod None\nseed 5\n")
    case("data-path-is-option", "data columns 1 2 3\nmethod None\nseed 5\n")
    case("data-path-with-blank", "data my file.dat\nmethod None\nseed 5\n")
    case("columns-two", "data scores.dat columns 1 2\nmethod None\nseed 5\n")
    case("columns-four", "data scores.dat columns 1 2 3 4\nmethod None\nseed 5\n")
    case("column-26", "data scores.dat columns 1 26 3\nmethod None\nseed 5\n")
    case("column-zero", "data scores.dat columns 0 2 3\nmethod None\nseed 5\n")
    case("column-huge", "data scores.dat columns 1 2 99999999999\nmethod None\nseed 5\n")
    case("column-word", "data scores.dat columns 1 two 3\nmethod None\nseed 5\n")
    case("columns-twice", "data scores.dat columns 1 2 3 columns 1 2 3\nmethod None\nseed 5\n")
    case("scale-twice", "data scores.dat scale 1 36 1 scale 1 36 1\nmethod None\nseed 5\n")
    case("scale-reversed", "data scores.dat scale 36 1 1\nmethod None\nseed 5\n")
    case("scale-increment-zero", "data scores.dat scale 1 36 0\nmethod None\nseed 5\n")
    case("scale-too-many-points", "data scores.dat scale 0 32767 1\nmethod None\nseed 5\n")
    case("scale-inf", "data scores.dat scale -inf 36 1\nmethod None\nseed 5\n")
    case("scale-nan", "data scores.dat scale 1 nan 1\nmethod None\nseed 5\n")
    case("scale-hex", "data scores.dat scale 0x1 36 1\nmethod None\nseed 5\n")
    case("scale-comma", "data scores.dat scale 1,5 36 1\nmethod None\nseed 5\n")
    case("scale-overflow", "data scores.dat scale 1e999 1e999 1\nmethod None\nseed 5\n")
    case("scale-two", "data scores.dat scale 1 36\nmethod None\nseed 5\n")
    case("data-repeated", "data scores.dat\ndata scores.dat\nmethod None\nseed 5\n")
    case("data-same-path-other-scale", "data scores.dat\ndata scores.dat scale 0 40 1\n"
         "method None\nseed 5\n")
    case("data-same-file-other-name", "data scores.dat\ndata ./scores.dat\nmethod None\n"
         "seed 5\n")
    case("data-repeated-same-values", "data scores.dat scale 1 36 1\ndata scores.dat "
         "columns 1 2 3\nmethod None\nseed 5\n")
    case("data-101", "".join("data scores.dat scale %d %d 1\n" % (d, d + 40) for d in range(101)) +
         "method None\nseed 5\n")
    # Sizes.
    for k, token in enumerate(["1e3", "0", "-5", "500/", "/500", "500/0", "a/b", "500//500",
                               "1.5", "2147483648", "500/500/500", "+"]):
        case("sizes-%d" % k, head + "method None\nsizes " + token + "\n")
    case("sizes-empty", head + "method None\nsizes\n")
    case("sizes-repeat-same-line", head + "method None\nsizes 500 500/500\n")
    case("sizes-repeat-later-line", head + "method None\nsizes 500\nsizes 20 500/500\n")
    case("sizes-1001", head + "method None\n" + "".join(
        "sizes " + " ".join("%d/%d" % (1 + i // 50, 1 + i % 50)
                            for i in range(start, min(1001, start + 100))) + "\n"
        for start in range(0, 1001, 100)))
    # Methods.
    for k, token in enumerate(["Px", "P", "2", "-", "'None'", "p1"]):
        case("method-word-%d" % k, head + "method " + token + "\n")
    case("method-without-word", head + "method\n")
    case("method-none-with-parameter", head + "method None 3\n")
    case("method-linear-with-parameter", head + "method Linear 0\n")
    case("method-three-values", head + "method Post 0.1 0.2\n")
    case("method-pre-without-degree", head + "method Pre\n")
    case("method-pre-fraction", head + "method Pre 6.5\n")
    case("method-pre-zero", head + "method Pre 0\n")
    case("method-pre-huge", head + "method Pre 32768\n")
    case("method-pre-exponent", head + "method Pre 6e0\n")
    case("method-post-above-one", head + "method Post 1.5\n")
    case("method-post-inf", head + "method Post inf\n")
    case("method-post-nan", head + "method Post nan\n")
    case("method-post-word", head + "method Post x\n")
    case("method-post-trailing", head + "method Post 0.1x\n")
    case("method-post-overflow", head + "method Post 1e999\n")
    case("method-repeated", head + "method Post\nmethod Post 0.25\n")
    case("method-repeated-pre", head + "method Pre 6\nmethod Presmoothing 6\n")
    case("method-101", head + "".join("method Post %g\n" % (i / 1000.0) for i in range(101)))
    # Replications, seed, criterion, output.
    for token in ["1e3", "0", "-1", "1000.0", "1,000", "2147483648", "x"]:
        case("replications-%s" % slug(token), head + "method None\nreplications " + token + "\n")
    case("replications-two-values", head + "method None\nreplications 5 6\n")
    case("replications-twice", head + "method None\nreplications 5\nreplications 5\n")
    for token in ["2147483647", "-2147483647", "99999999999", "1.5", "x"]:
        case("seed-%s" % slug(token), "data scores.dat\nmethod None\nseed " + token + "\n")
    case("seed-twice", head + "method None\nseed 5\n")
    case("seed-empty", "data scores.dat\nmethod None\nseed\n")
    case("criterion-unknown", head + "method None\ncriterion Median\n")
    case("criterion-empty", head + "method None\ncriterion\n")
    case("criterion-column-without-k", head + "method None\ncriterion column\n")
    case("criterion-column-26", head + "method None\ncriterion column 26\n")
    case("criterion-column-data", head + "method None\ncriterion column 2\n")
    case("criterion-column-scale", head + "method None\ncriterion column 3\n")
    case("criterion-twice", head + "method None\ncriterion None\ncriterion Same\n")
    case("criterion-none-extra", head + "method None\ncriterion None Same\n")
    case("output-two-values", "data scores.dat\nseed 5\nmethod None\noutput a b\n")
    case("output-empty", "data scores.dat\nseed 5\nmethod None\noutput\n")
    case("output-twice", head + "method None\noutput other\n")
    case("output-is-study-file", "data scores.dat\nseed 5\nmethod None\noutput study.txt\n")
    # Found when the study is planned: data files, criterion columns, output folders.
    case("data-file-missing", head + "method None\n", files={"scores.dat": None})
    case("data-file-bad-row", head + "method None\n", files={"scores.dat": "x y z\n" +
                                                                          small_forms_text()})
    case("data-file-three-points", head + "method None\n", files={"scores.dat":
                                                                       "1 1 1\n2 2 2\n3 3 3\n"})
    case("data-file-second-set-bad", "data scores.dat\ndata other.dat\nseed 5\nmethod None\n",
         files={"other.dat": "1 2\n"})
    case("data-columns-beyond-row", "data scores.dat columns 1 2 9\nseed 5\nmethod None\n")
    case("criterion-column-beyond-row", head + "method None\ncriterion column 9\n")
    case("criterion-column-not-numbers", head + "method None\ncriterion column 4\n",
         files={"scores.dat": "".join(l + " abc\n" for l in small_forms_text().splitlines())})
    case("criterion-column-inf", head + "method None\ncriterion column 4\n",
         files={"scores.dat": "".join(l + " inf\n" for l in small_forms_text().splitlines())})
    case("output-is-a-file", "data scores.dat\nmethod None\nseed 5\noutput scores.dat\n")
    case("output-parent-missing", "data scores.dat\nmethod None\nseed 5\noutput a/b/c\n")
    case("output-under-a-file", "data scores.dat\nmethod None\nseed 5\noutput scores.dat/x\n")
    case("output-index-is-folder", head + "method None\n", setup=[["mkdir", "results"],
                                                                  ["mkdir", "results/index.html"]])
    case("default-output-is-a-file", "data scores.dat\nmethod None\nseed 5\n",
         files={"study": "x\n"})
    case("default-output-no-extension", "data scores.dat\nmethod None\nseed 5\n",
         args=["plain"], files={"plain": "data scores.dat\nmethod None\nseed 5\n"})
    case("sharded-with-clock-seed-clock-ok", "data scores.dat\nmethod None\n",
         args=["study.txt", "--shard", "1/2"])
    # Failures on a replication, of the criterion, and of writing.
    case("method-fails-on-replication", head + "method None\nmethod Linear\nreplications 4\n",
         files={"scores.dat": "0 0 10\n7 0 20\n0 9 30\n0 0 40\n"})
    case("method-fails-in-second-condition", head + "method Linear\nsizes 50 1\n"
         "replications 30\n")
    case("criterion-same-fails", head + "method Linear\ncriterion Same\n",
         files={"scores.dat": "0 0 10\n7 0 20\n0 9 30\n0 0 40\n"})
    case("outputs-beyond-file-size-limit", head + "method None\nreplications 3\n",
         options={"file_size": 2048})
    case("outputs-beyond-file-size-limit-earlier", head + "method None\nreplications 3\n",
         files={"results/scores.csv": "earlier\n"}, options={"file_size": 4096})
    case("output-read-only-file", head + "method None\nreplications 3\n",
         files={"results/summary.csv": "earlier\n"},
         setup=[["immutable", "results/summary.csv"]])
    # The merge.
    good = head + "method None\nmethod Mean\nsizes 50 100\nreplications 5\n"
    case("merge-without-folder", good, args=["--merge", "study.txt"])
    case("merge-without-manifests", good, args=["--merge", "study.txt"],
         setup=[["mkdir", "results"]])
    shard = lambda i, n: ["run", "eqsim-study", ["study.txt", "--shard", "%d/%d" % (i, n)], {}]
    merge = ["run", "eqsim-study", ["--merge", "study.txt"], {}]
    case("merge-missing-shard", good, steps=[shard(1, 3), shard(3, 3), merge])
    case("merge-shards-of-two-runs", good, steps=[shard(1, 2), shard(2, 2), shard(1, 3), merge])
    case("merge-other-study", good, files={"edited.txt": good + "# edited\n"},
         steps=[shard(1, 2), shard(2, 2), ["copy", "edited.txt", "study.txt"], merge])
    case("merge-damaged-manifest", good, files={"junk": "not a manifest\n"},
         steps=[shard(1, 2), shard(2, 2), ["copy", "junk", "results/shard-2-of-2.manifest"],
                merge])
    case("merge-empty-manifest", good, files={"empty": ""},
         steps=[shard(1, 2), shard(2, 2), ["copy", "empty", "results/shard-1-of-2.manifest"],
                merge])
    case("merge-missing-scores", good,
         steps=[shard(1, 2), shard(2, 2), ["remove", "results/shard-1-of-2.scores.csv"], merge])
    case("merge-short-scores", good, files={"short": "data\n"},
         steps=[shard(1, 2), shard(2, 2), ["copy", "short", "results/shard-2-of-2.scores.csv"],
                merge])
    digest = manifest_digest(good.encode())
    case("merge-other-seed", good, files={"m": "eqsim-study shard 2 of 2\nstudy %s\nseed 6\n"
                                               "condition 2 0 0\n" % digest},
         steps=[shard(1, 2), shard(2, 2), ["copy", "m", "results/shard-2-of-2.manifest"], merge])
    case("merge-condition-twice", good, files={"m": "eqsim-study shard 2 of 2\nstudy %s\nseed 5\n"
                                                    "condition 1 36 0\n" % digest},
         steps=[shard(1, 2), shard(2, 2), ["copy", "m", "results/shard-2-of-2.manifest"], merge])
    case("merge-condition-unknown", good, files={"m": "eqsim-study shard 2 of 2\nstudy %s\n"
                                                      "seed 5\ncondition 9 0 0\n" % digest},
         steps=[shard(1, 2), shard(2, 2), ["copy", "m", "results/shard-2-of-2.manifest"], merge])
    case("merge-twice", good, steps=[shard(1, 2), shard(2, 2), merge, merge])


# ---------------------------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder", help="where to write the corpus (created; must be empty)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the corpus (default 1)")
    args = parser.parse_args()
    if os.path.isdir(args.folder) and os.listdir(args.folder):
        sys.exit("make_corpus.py: %s is not empty" % args.folder)
    os.makedirs(args.folder, exist_ok=True)
    corpus = Corpus(args.folder)
    # Each category draws from its own generator, so that adding cases to one leaves the others'
    # bytes as they were.
    for index, add in enumerate([add_methods, add_smoothing, add_replications, add_seeds,
                                 add_columns, add_scales, add_outputs, add_data,
                                 add_data_errors, add_control_errors, add_warnings,
                                 add_failures, add_studies, add_study_runs, add_study_errors]):
        add(corpus, random.Random(args.seed * 1000003 + index))
    with open(os.path.join(args.folder, "corpus.json"), "w", encoding="utf-8") as f:
        json.dump({"seed": args.seed, "cases": corpus.counts}, f, indent=1, sort_keys=True)
        f.write("\n")
    eqsim_cases = sum(n for c, n in corpus.counts.items() if not c.startswith("stud"))
    study_cases = sum(n for c, n in corpus.counts.items() if c.startswith("stud"))
    print("make_corpus.py: %d eqsim cases and %d eqsim-study cases in %s" % (
        eqsim_cases, study_cases, args.folder))


if __name__ == "__main__":
    main()
