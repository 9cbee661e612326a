#!/usr/bin/env python3
"""Runs two or more commands alternately, whole process against whole
process, and prints each one's median wall time and median processor time
(user + system, from wait4, the run's own threads included) in milliseconds,
and the ratios of each to the last.

usage: side_by_side.py RUNS LABEL_A LABEL_B [LABEL...] -- COMMAND_A... -- COMMAND_B... [-- COMMAND...]
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
    if "--" not in argv:
        sys.exit(__doc__)
    first = argv.index("--")
    runs, labels = int(argv[0]), argv[1:first]
    cmds, cmd = [], None
    for a in argv[first:]:
        if a == "--":
            cmd = []
            cmds.append(cmd)
        else:
            cmd.append(a)
    if len(labels) < 2 or len(labels) != len(cmds) or not all(cmds):
        sys.exit(__doc__)
    results = [([], []) for _ in cmds]
    for c in cmds:  # warm the caches
        run_once(c)
    for _ in range(runs):  # alternately, so that the load moves all alike
        for (walls, cpus), c in zip(results, cmds):
            wall, cpu = run_once(c)
            walls.append(wall)
            cpus.append(cpu)
    med = [(statistics.median(w), statistics.median(c)) for w, c in results]
    for label, (w, c) in zip(labels, med):
        print("%-12s wall %8.1f ms   CPU %8.1f ms" % (label, w, c))
    last = med[-1]
    for label, (w, c) in zip(labels[:-1], med[:-1]):
        name = "ratio" if len(labels) == 2 else label + " /"
        print("%-12s wall %8.2f      CPU %8.2f" % (name, w / last[0], c / last[1]))


if __name__ == "__main__":
    main(sys.argv[1:])
