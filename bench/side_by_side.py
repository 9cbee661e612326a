#!/usr/bin/env python3
"""Runs two commands alternately, whole process against whole process, and
prints each one's median wall time and median processor time (user + system,
from wait4, the run's own threads included) in milliseconds, and the ratios
of the first to the second.

usage: side_by_side.py RUNS LABEL_A LABEL_B -- COMMAND_A... -- COMMAND_B...
"""
import os
import statistics
import subprocess
import sys
import time


def run_once(cmd):
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, _, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    return wall * 1000, (usage.ru_utime + usage.ru_stime) * 1000


def main(argv):
    if len(argv) < 6 or argv[3] != "--" or "--" not in argv[4:]:
        sys.exit(__doc__)
    runs, label_a, label_b = int(argv[0]), argv[1], argv[2]
    rest = argv[4:]
    split = rest.index("--")
    cmd_a, cmd_b = rest[:split], rest[split + 1:]
    results = {label_a: ([], []), label_b: ([], [])}
    run_once(cmd_a), run_once(cmd_b)  # warm the caches
    for _ in range(runs):  # alternately, so that the load moves both alike
        for label, cmd in ((label_a, cmd_a), (label_b, cmd_b)):
            wall, cpu = run_once(cmd)
            results[label][0].append(wall)
            results[label][1].append(cpu)
    med = {k: (statistics.median(w), statistics.median(c)) for k, (w, c) in results.items()}
    for k, (w, c) in med.items():
        print("%-12s wall %8.1f ms   CPU %8.1f ms" % (k, w, c))
    print("ratio        wall %8.2f      CPU %8.2f" % (med[label_a][0] / med[label_b][0], med[label_a][1] / med[label_b][1]))


if __name__ == "__main__":
    main(sys.argv[1:])
