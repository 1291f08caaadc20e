#!/usr/bin/env python3
"""Alternates, on one warm tree, chronosift's whole search process, fdfind and the bench's bare
walker with 2 and 16 threads, for N rounds after one warm-up each, and prints each one's median
wall time and chronosift's ratio to it.

    bench/walk_pairs.py TREE [ROUNDS] [BENCH]

TREE is a tree the bench made (for example /dev/shm/scale-bench/tree-1000000); BENCH defaults to
build/bench/chronosift-bench. To measure beside other work, start that work first.
"""
import os
import statistics
import subprocess
import sys
import time

tree = sys.argv[1]
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
bench = sys.argv[3] if len(sys.argv) > 3 else os.path.join(
    os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "build/bench/chronosift-bench")
commands = {
    "chronosift": [bench, "--measure", tree],
    "fdfind": ["fdfind", "-H", "-I", "-t", "f", "--changed-before", "2010-01-01", ".", tree],
    "minimal, 2 threads": [bench, "--minimal-walk", tree, "2"],
    "minimal, 16 threads": [bench, "--minimal-walk", tree, "16"],
}
times = {name: [] for name in commands}
for command in commands.values():
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
for r in range(rounds):
    for name, command in commands.items():
        start = time.monotonic()
        subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        times[name].append((time.monotonic() - start) * 1000)
    print("round %d: " % (r + 1) + ", ".join("%s %.0f ms" % (n, t[-1]) for n, t in times.items()),
          flush=True)
median = {name: statistics.median(t) for name, t in times.items()}
print("median of %d rounds, %s:" % (rounds, tree))
for name in commands:
    print("  %-20s %8.1f ms   chronosift / it %.2f" % (name, median[name],
                                                       median["chronosift"] / median[name]))
