#!/usr/bin/env python3
"""Runs every case of the corpus with two builds of eqsim and eqsim-study and compares what they
did, byte for byte: standard output, standard error and exit status of every command, and every
file of the folder the commands ran in (reports, study outputs, and the inputs they must leave
alone).

    python3 tests/corpus/compare_builds.py BEFORE-BIN-DIR AFTER-BIN-DIR [--corpus DIR] [--seed N]
                                           [--jobs N] [--scratch DIR] [--keep] [--only TEXT]

BIN-DIR is a folder holding the executables eqsim and eqsim-study (a build folder). Without
--corpus, the corpus is made afresh by make_corpus.py with --seed (default 1) in the scratch
folder; with --corpus DIR, the corpus in DIR is used, or made there when DIR is missing or empty.

A case runs in SCRATCH/run/CASE: with the BEFORE binaries first, then the folder is made again
from the corpus and the AFTER binaries run in the very same path, since diagnostics name the
current folder. Cases run on --jobs processes (default 2). The exit status is 0 only when every
case is identical.
"""
import argparse
import array
import difflib
import fcntl
import hashlib
import json
import os
import resource
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import traceback
from multiprocessing import Pool

HERE = os.path.dirname(os.path.abspath(__file__))
STEP_TIMEOUT = 120  # seconds; a command still running then counts as an outcome of its own
DIFF_LINES = 12

# The ioctl requests for a file's attribute flags (Linux, 64-bit long).
FS_IOC_GETFLAGS = 0x80086601
FS_IOC_SETFLAGS = 0x40086602
FS_IMMUTABLE_FL = 0x10


# ---------------------------------------------------------------------------------------------
# One case, one build


def set_immutable(path, on):
    """Sets or clears the immutable attribute, which binds the superuser too. False when the file
    system has none."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
    except OSError:
        return False
    try:
        flags = array.array("l", [0])
        fcntl.ioctl(fd, FS_IOC_GETFLAGS, flags, True)
        flags[0] = (flags[0] | FS_IMMUTABLE_FL) if on else (flags[0] & ~FS_IMMUTABLE_FL)
        fcntl.ioctl(fd, FS_IOC_SETFLAGS, flags, True)
        return True
    except OSError:
        return False
    finally:
        os.close(fd)


def clear_folder(path):
    """Removes path whole, after clearing any immutable attribute a case set inside it."""
    if not os.path.lexists(path):
        return
    for root, dirs, files in os.walk(path):
        for name in files:
            full = os.path.join(root, name)
            if not os.path.islink(full) and os.path.isfile(full):
                set_immutable(full, False)
    shutil.rmtree(path)


def prepare(case_dir, plan, folder):
    """Makes the case's folder from the corpus. Returns a reason to skip the case, or None."""
    clear_folder(folder)
    source = os.path.join(case_dir, "files")
    shutil.copytree(source, folder, symlinks=True)
    for name in plan["template"]:
        path = os.path.join(folder, name)
        with open(path, "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(data.replace(b"@CASE@", folder.encode()))
    for action in plan["setup"]:
        kind = action[0]
        if kind == "mkdir":
            os.makedirs(os.path.join(folder, action[1]), exist_ok=True)
        elif kind == "symlink":
            os.symlink(action[1], os.path.join(folder, action[2]))
        elif kind == "immutable":
            if not set_immutable(os.path.join(folder, action[1]), True):
                return "this file system has no immutable files"
        else:
            raise ValueError("unknown setup action %r" % (action,))
    return None


def limits(options):
    """What the child does between fork and exec: resource limits and standard output's fate."""
    file_size = options.get("file_size")
    address_space = options.get("address_space")
    close_stdout = options.get("stdout") == "closed"

    def child():
        if file_size is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_size, file_size))
        if address_space is not None:
            resource.setrlimit(resource.RLIMIT_AS, (address_space, address_space))
        if close_stdout:
            os.close(1)

    return child


def run_step(bin_dir, folder, step):
    """Runs one command of a case; returns its outcome as a dict of bytes and numbers."""
    _, program, args, options = step
    args = [a.replace("@CASE@", folder) for a in args]
    cwd = os.path.join(folder, options.get("cwd", "."))
    env = {"PATH": "/usr/bin:/bin", "LC_ALL": "C", "LANG": "C", "TZ": "UTC", "HOME": folder}
    mode = options.get("stdout")
    out_file = None
    out_read = None
    if mode == "full":
        out_file = open("/dev/full", "wb")
        stdout = out_file
    elif mode == "broken-pipe":
        out_read, out_write = os.pipe()
        os.close(out_read)
        stdout = out_write
    elif mode == "closed":
        stdout = subprocess.DEVNULL
    else:
        stdout = subprocess.PIPE
    try:
        proc = subprocess.run([os.path.join(bin_dir, program)] + args, cwd=cwd, env=env,
                              stdin=subprocess.DEVNULL, stdout=stdout, stderr=subprocess.PIPE,
                              timeout=STEP_TIMEOUT, preexec_fn=limits(options))
        status = proc.returncode
        out, err = proc.stdout or b"", proc.stderr
    except subprocess.TimeoutExpired as e:
        status = "timed out after %d s" % STEP_TIMEOUT
        out, err = e.stdout or b"", e.stderr or b""
    finally:
        if out_file is not None:
            out_file.close()
        if mode == "broken-pipe":
            os.close(out_write)
    return {"status": status, "stdout": out, "stderr": err}


def snapshot(folder):
    """Every entry under folder: files by content and permission bits, links by target, folders
    by name."""
    state = {}
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for name in sorted(dirs + files):
            full = os.path.join(root, name)
            rel = os.path.relpath(full, folder)
            info = os.lstat(full)
            if stat.S_ISLNK(info.st_mode):
                state[rel] = ("link", os.readlink(full).encode())
            elif stat.S_ISDIR(info.st_mode):
                state[rel] = ("folder", b"")
            elif stat.S_ISREG(info.st_mode):
                with open(full, "rb") as f:
                    state[rel] = ("file %o" % stat.S_IMODE(info.st_mode), f.read())
            else:
                state[rel] = ("special", b"")
    return state


def run_case(bin_dir, case_dir, plan, folder):
    """Runs every step of a case with one build. Returns (outcomes, seconds) or (reason, None)
    when the case cannot be set up here."""
    skip = prepare(case_dir, plan, folder)
    if skip is not None:
        clear_folder(folder)
        return skip, None
    outcomes = []
    seconds = 0.0
    try:
        for step in plan["steps"]:
            kind = step[0]
            if kind == "run":
                start = time.monotonic()
                outcome = run_step(bin_dir, folder, step)
                seconds += time.monotonic() - start
            elif kind == "copy":
                shutil.copyfile(os.path.join(folder, step[1]), os.path.join(folder, step[2]))
                outcome = None
            elif kind == "remove":
                os.remove(os.path.join(folder, step[1]))
                outcome = None
            else:
                raise ValueError("unknown step %r" % (step,))
            if outcome is not None:
                outcome["files"] = snapshot(folder)
                outcomes.append((step, outcome))
    finally:
        clear_folder(folder)
    return outcomes, seconds


# ---------------------------------------------------------------------------------------------
# Comparing two builds' outcomes


def short_diff(before, after):
    """A few lines that show where two byte strings part."""
    if b"\0" in before or b"\0" in after:
        at = next((i for i, (a, b) in enumerate(zip(before, after)) if a != b),
                  min(len(before), len(after)))
        return ["    binary: %d and %d bytes, first difference at byte %d" % (
            len(before), len(after), at)]
    a = before.decode("utf-8", "replace").splitlines()
    b = after.decode("utf-8", "replace").splitlines()
    lines = list(difflib.unified_diff(a, b, "before", "after", n=1, lineterm=""))
    if not lines and before != after:
        lines = ["    the same lines, different line ends or final newline (%d and %d bytes)" % (
            len(before), len(after))]
    # Long lines are shown from a little before where the first changed pair parts.
    removed = next((l[1:] for l in lines if l.startswith("-") and not l.startswith("---")), "")
    added = next((l[1:] for l in lines if l.startswith("+") and not l.startswith("+++")), "")
    common = next((i for i, (x, y) in enumerate(zip(removed, added)) if x != y),
                  min(len(removed), len(added)))
    offset = max(0, common - 80)
    shown = []
    for l in lines[:DIFF_LINES]:
        if len(l) > 200:
            body = l[1 + offset:]
            l = (l[0] + ("..." if offset else "") + body[:200] +
                 ("..." if len(body) > 200 else ""))
        shown.append("    " + l)
    if len(lines) > DIFF_LINES:
        shown.append("    ... %d more diff lines" % (len(lines) - DIFF_LINES))
    return shown


def step_name(index, step):
    return "step %d (%s %s)" % (index + 1, step[1], " ".join(step[2]))


def differences(before, after):
    """Lines that describe every difference between two builds' outcomes of one case."""
    report = []
    if len(before) != len(after):
        return ["  the builds ran %d and %d steps" % (len(before), len(after))]
    for index, ((step, b), (_, a)) in enumerate(zip(before, after)):
        name = step_name(index, step)
        if b["status"] != a["status"]:
            report.append("  %s: exit status %s, after %s" % (name, b["status"], a["status"]))
        for stream in ("stdout", "stderr"):
            if b[stream] != a[stream]:
                report.append("  %s: %s differs" % (name, stream))
                report += short_diff(b[stream], a[stream])
        for path in sorted(set(b["files"]) | set(a["files"])):
            fb, fa = b["files"].get(path), a["files"].get(path)
            if fb == fa:
                continue
            if fb is None or fa is None:
                report.append("  %s: %s %s only %s" % (name, (fb or fa)[0].split()[0], path,
                                                       "before" if fa is None else "after"))
            elif fb[0] != fa[0]:
                report.append("  %s: %s is a %s before, a %s after" % (name, path, fb[0], fa[0]))
            else:
                report.append("  %s: %s differs" % (name, path))
                report += short_diff(fb[1], fa[1])
    return report


def case_id_of(case_dir):
    """CATEGORY/NNNN-NAME, the name a case goes by."""
    category_dir = os.path.dirname(case_dir)
    return os.path.basename(category_dir) + "/" + os.path.basename(case_dir)


def compare_case(task):
    """Worker: runs one case with both builds in the same folder. Returns a summary tuple; a
    failure of the harness itself counts as a difference, with its traceback."""
    try:
        return compare_one(*task)
    except Exception:  # noqa: BLE001 - reported, never hidden
        case_dir = task[2]
        return (case_id_of(case_dir), os.path.basename(os.path.dirname(case_dir)), "different",
                ["  the harness failed:"] + ["    " + l for l in
                                             traceback.format_exc().splitlines()], [], 0.0, 0.0)


def compare_one(before_bin, after_bin, case_dir, scratch):
    with open(os.path.join(case_dir, "case.json"), encoding="utf-8") as f:
        plan = json.load(f)
    case_id = case_id_of(case_dir)
    folder = os.path.join(scratch, "run", case_id.replace(os.sep, "."))
    before, before_time = run_case(before_bin, case_dir, plan, folder)
    if before_time is None:
        return case_id, plan["category"], "skipped", [before], [], 0.0, 0.0
    after, after_time = run_case(after_bin, case_dir, plan, folder)
    diff = differences(before, after)
    statuses = [o["status"] for _, o in before]
    return (case_id, plan["category"], "different" if diff else "identical", diff, statuses,
            before_time, after_time)


# ---------------------------------------------------------------------------------------------


def find_cases(corpus):
    root = os.path.join(corpus, "cases")
    cases = []
    for category in sorted(os.listdir(root)):
        for name in sorted(os.listdir(os.path.join(root, category))):
            cases.append(os.path.join(root, category, name))
    return cases


def make_corpus(folder, seed):
    made = subprocess.run([sys.executable, os.path.join(HERE, "make_corpus.py"), folder,
                           "--seed", str(seed)])
    if made.returncode != 0:
        sys.exit("compare_builds.py: make_corpus.py could not make the corpus in %s" % folder)


def check_bin_dir(path):
    path = os.path.abspath(path)
    for program in ("eqsim", "eqsim-study"):
        if not os.access(os.path.join(path, program), os.X_OK):
            sys.exit("compare_builds.py: %s has no executable %s" % (path, program))
    return path


def copy_build(bin_dir, target):
    """Copies a build's two executables, so that a rebuild while the comparison runs cannot mix
    two builds in one side. Returns the copy's folder and the executables' digests."""
    os.makedirs(target)
    digests = []
    for program in ("eqsim", "eqsim-study"):
        shutil.copy2(os.path.join(bin_dir, program), os.path.join(target, program))
        with open(os.path.join(target, program), "rb") as f:
            digests.append("%s %s" % (program, hashlib.sha256(f.read()).hexdigest()[:16]))
    return target, ", ".join(digests)


def status_counts(statuses):
    counts = {}
    for s in statuses:
        key = str(s)
        counts[key] = counts.get(key, 0) + 1
    return " ".join("%s:%d" % (k, counts[k]) for k in sorted(counts, key=lambda k: (len(k), k)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("before", help="folder of the BEFORE build's eqsim and eqsim-study")
    parser.add_argument("after", help="folder of the AFTER build's eqsim and eqsim-study")
    parser.add_argument("--corpus", help="corpus folder to use (made there when missing)")
    parser.add_argument("--seed", type=int, default=1, help="seed of a corpus made here")
    parser.add_argument("--jobs", type=int, default=2, help="processes (default 2)")
    parser.add_argument("--scratch", help="folder for the scratch folder (default: the "
                        "system's temporary folder)")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    parser.add_argument("--only", help="run only the cases whose path holds this text")
    args = parser.parse_args()
    before_bin = check_bin_dir(args.before)
    after_bin = check_bin_dir(args.after)
    start = time.monotonic()
    scratch = os.path.realpath(tempfile.mkdtemp(prefix="eqsim-compare-", dir=args.scratch))
    try:
        before_bin, before_digests = copy_build(before_bin, os.path.join(scratch, "before"))
        after_bin, after_digests = copy_build(after_bin, os.path.join(scratch, "after"))
        print("BEFORE %s: %s" % (args.before, before_digests))
        print("AFTER  %s: %s" % (args.after, after_digests))
        sys.stdout.flush()
        corpus = args.corpus
        if corpus is None:
            corpus = os.path.join(scratch, "corpus")
        if not os.path.isdir(os.path.join(corpus, "cases")):
            make_corpus(corpus, args.seed)
        cases = find_cases(corpus)
        if args.only:
            cases = [c for c in cases if args.only in c]
        tasks = [(before_bin, after_bin, c, scratch) for c in cases]
        os.umask(0o022)
        results = []
        with Pool(args.jobs) as pool:
            for result in pool.imap_unordered(compare_case, tasks, chunksize=4):
                results.append(result)
        results.sort()
    finally:
        if args.keep:
            print("scratch folder kept: %s" % scratch)
        else:
            clear_folder(scratch)
    elapsed = time.monotonic() - start

    categories = {}
    for case_id, category, verdict, _, statuses, _, _ in results:
        row = categories.setdefault(category, {"cases": 0, "identical": 0, "different": 0,
                                               "skipped": 0, "statuses": []})
        row["cases"] += 1
        row[verdict] += 1
        row["statuses"] += statuses
    print("%-16s %6s %10s %10s %8s  %s" % ("category", "cases", "identical", "different",
                                            "skipped", "exit statuses of BEFORE (status:count)"))
    totals = {"cases": 0, "identical": 0, "different": 0, "skipped": 0}
    for category in sorted(categories):
        row = categories[category]
        print("%-16s %6d %10d %10d %8d  %s" % (category, row["cases"], row["identical"],
                                                row["different"], row["skipped"],
                                                status_counts(row["statuses"])))
        for key in totals:
            totals[key] += row[key]
    print("%-16s %6d %10d %10d %8d" % ("all", totals["cases"], totals["identical"],
                                        totals["different"], totals["skipped"]))
    before_time = sum(r[5] for r in results)
    after_time = sum(r[6] for r in results)
    print("commands' wall time: BEFORE %.1f s, AFTER %.1f s; whole comparison %.1f s on %d "
          "processes" % (before_time, after_time, elapsed, args.jobs))
    slowest = sorted(results, key=lambda r: -(r[5] + r[6]))[:5]
    print("slowest cases: " + ", ".join("%s %.1f s" % (r[0], r[5] + r[6]) for r in slowest))
    for case_id, category, verdict, diff, _, _, _ in results:
        if verdict == "skipped":
            print("skipped %s: %s" % (case_id, diff[0]))
    for case_id, category, verdict, diff, _, _, _ in results:
        if verdict == "different":
            print("\nDIFFERENT %s" % case_id)
            print("\n".join(diff))
    if totals["different"] == 0:
        print("all %d cases identical" % (totals["identical"] + totals["skipped"]) +
              (" (%d skipped)" % totals["skipped"] if totals["skipped"] else ""))
    return 0 if totals["different"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
