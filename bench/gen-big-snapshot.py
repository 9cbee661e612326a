#!/usr/bin/env python3
"""Writes a snapshot of one class with many instances, for measuring listings.

usage: bench/gen-big-snapshot.py FILE [COUNT]   (COUNT default 1 000 000)

The class is Win32_Thread with two properties, Handle and Priority: the same
text bench_snapshot builds in memory (34.6 MB at a million instances).
"""
import sys

path = sys.argv[1]
count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
with open(path, "w") as f:
    f.write('{"format": "kestrane-snapshot", "version": 1, "computer": "BIG", "captured": "",\n'
            ' "classes": {"Win32_Thread": {"properties": ['
            '{"name": "Handle", "cimtype": 8, "array": false, "origin": "CIM_Thread"}, '
            '{"name": "Priority", "cimtype": 19, "array": false, "origin": "Win32_Thread"}],\n'
            '  "instances": [\n')
    f.write(",\n".join('{"Handle":"%d","Priority":%d}' % (i, i % 32) for i in range(count)))
    f.write("\n]}}}\n")
