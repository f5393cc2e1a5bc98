#!/usr/bin/python3
"""Compares xlsdump binaries on one workbook: each round starts every binary once, in turn, so
that a slow spell of the machine falls on all of them. Not a test; run by hand:

    bench/xls_read/ab.py [--pause SECONDS] FILE ROUNDS BINARY...

With --pause, each run waits that long after the one before. Memory given back a moment before
is quick to use again, so runs back to back see the machine at its best; a pause of a few tenths
of a second, with twice that between rounds, shows it as it mostly is after other programs ran.
"""
import argparse
import os
import statistics
import subprocess
import time

parser = argparse.ArgumentParser()
parser.add_argument("--pause", type=float, default=0.0)
parser.add_argument("file")
parser.add_argument("rounds", type=int)
parser.add_argument("binaries", nargs="+")
args = parser.parse_args()

runs = {b: [] for b in args.binaries}
for _ in range(args.rounds):
    for binary in args.binaries:
        time.sleep(args.pause)
        start = time.perf_counter()
        child = subprocess.Popen([binary, args.file], stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        if status != 0:
            raise SystemExit("%s failed on %s" % (binary, args.file))
        runs[binary].append((time.perf_counter() - start, usage.ru_minflt, usage.ru_maxrss))
    time.sleep(2 * args.pause)

for binary, r in runs.items():
    wall = sorted(1000 * w for w, _, _ in r)
    q = lambda p: wall[min(len(wall) - 1, int(p * len(wall)))]
    print("%s\n  wall ms: median %.1f  mean %.1f  min %.1f  p90 %.1f | page faults median %d | peak RSS "
          "KiB median %d  max %d" % (binary, statistics.median(wall), statistics.mean(wall), wall[0], q(0.9),
                                      statistics.median(f for _, f, _ in r), statistics.median(m for _, _, m in r),
                                      max(m for _, _, m in r)))
