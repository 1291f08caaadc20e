#!/usr/bin/env python3
"""The fault catalogue: realistic single faults, planted one at a time in a scratch copy.

Each fault is an exact snippet of a source file, its replacement, and the mistake it models.
The runner copies the working tree to a scratch folder (once; the build there is incremental),
plants one fault, rebuilds, runs the suite, and takes the fault out again. A fault is caught when
the build or any test fails. It prints each result and, at the end, caught / planted.

    python3 scripts/mutants.py                # every fault
    python3 scripts/mutants.py --only T3 T4   # some of them
    python3 scripts/mutants.py --list         # what is in the catalogue

Not run by CI: it takes tens of minutes. The desktop and package tests are left out (they test
the installed whole, and the rest covers each fault faster); pass --all-tests to include them.
"""
import argparse
import concurrent.futures
import os
import shutil
import subprocess
import sys
import time

from mutant_catalogue import FAULTS

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def sh(cmd, cwd, timeout=None):
    return subprocess.run(cmd, cwd=cwd, shell=True, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, timeout=timeout)


def prepare(scratch):
    src = os.path.join(scratch, "src")
    # The working tree as it is (committed or not), without its build.
    files = sh("git ls-files -co --exclude-standard -z", ROOT).stdout.split("\0")
    for rel in filter(None, files):
        to = os.path.join(src, rel)
        os.makedirs(os.path.dirname(to), exist_ok=True)
        if not os.path.exists(to) or open(os.path.join(ROOT, rel), "rb").read() != open(to, "rb").read():
            shutil.copy(os.path.join(ROOT, rel), to)  # a new time, so the build sees it
    r = sh("cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null && "
           "cmake --build build -j%d" % os.cpu_count(), src)
    if r.returncode != 0:
        sys.exit("the unchanged tree does not build:\n" + r.stdout[-3000:])
    return src


def run_suite(src, all_tests, timeout):
    exclude = "" if all_tests else "-E '^(desktop|package)$'"
    r = sh("cmake --build build -j%d" % os.cpu_count(), src, timeout)
    if r.returncode != 0:
        return "build fails"
    try:
        r = sh("ctest --test-dir build -j%d --timeout 120 --stop-on-failure %s" % (os.cpu_count(), exclude), src,
               timeout)
    except subprocess.TimeoutExpired:
        return "suite timed out"
    if r.returncode == 0:
        return None
    failed = [l.split(" - ", 1)[1].split(" (")[0] for l in r.stdout.splitlines()
              if " - " in l and l.strip()[:1].isdigit()]
    return ", ".join(failed[:4]) + (" ..." if len(failed) > 4 else "") or "tests fail"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--only", nargs="*", help="fault ids to plant")
    ap.add_argument("--list", action="store_true", help="list the faults and stop")
    ap.add_argument("--scratch", default="/tmp/chronosift-mutants")
    ap.add_argument("--all-tests", action="store_true", help="include the desktop and package tests")
    ap.add_argument("--timeout", type=int, default=900, help="seconds for one fault's build and run")
    ap.add_argument("--workers", type=int, default=1,
                    help="scratch copies planting side by side (each builds and tests in turn)")
    args = ap.parse_args()
    faults = [f for f in FAULTS if not args.only or f[0] in args.only]
    if args.list:
        for fid, path, _, _, what in faults:
            print("%-4s %-28s %s" % (fid, path, what))
        print("%d faults" % len(faults))
        return 0
    copies = [prepare(os.path.join(args.scratch, str(w))) for w in range(max(1, args.workers))]
    baseline = run_suite(copies[0], args.all_tests, args.timeout)
    if baseline:
        sys.exit("the unchanged tree fails: " + baseline)

    def plant(src, fault):
        fid, path, old, new, what = fault
        file = os.path.join(src, path)
        text = open(file, encoding="utf-8").read()
        if text.count(old) != 1:
            return fid, what, None, "STALE"
        open(file, "w", encoding="utf-8").write(text.replace(old, new))
        started = time.time()
        try:
            result = run_suite(src, args.all_tests, args.timeout)
        finally:
            open(file, "w", encoding="utf-8").write(text)
        return fid, what, time.time() - started, result

    def worker(w):
        out = []
        for fault in faults[w::len(copies)]:
            fid, what, seconds, result = plant(copies[w], fault)
            if result == "STALE":
                print("%-4s STALE  the snippet is not in %s exactly once" % (fid, fault[1]), flush=True)
            elif result:
                print("%-4s caught (%3.0f s) %s  <- %s" % (fid, seconds, what, result), flush=True)
            else:
                print("%-4s MISSED (%3.0f s) %s" % (fid, seconds, what), flush=True)
            out.append((fid, what, result))
        return out

    with concurrent.futures.ThreadPoolExecutor(len(copies)) as pool:
        results = [r for rs in pool.map(worker, range(len(copies))) for r in rs]
    caught = sum(1 for _, _, r in results if r and r != "STALE")
    missed = [(fid, ("stale: " if r == "STALE" else "") + what) for fid, what, r in results
              if not r or r == "STALE"]
    for src in copies:
        sh("cmake --build build -j%d" % os.cpu_count(), src)
    print("\n%d caught / %d planted (%.0f %%)" % (caught, len(faults), 100.0 * caught / max(1, len(faults))))
    for fid, what in missed:
        print("  missed %s: %s" % (fid, what))
    return 0 if not missed else 1


if __name__ == "__main__":
    sys.exit(main())
