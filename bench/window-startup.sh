#!/usr/bin/env bash
# The window's start-up, whole process against whole process: kestrane from
# spawn until its tree has been painted the first time and the program has
# ended, side by side with bench_minimal_window (a Qt window of the same shape
# and nothing else), on an Xvfb display of its own.
#
# usage: bench/window-startup.sh [BUILD_DIR] [RUNS]
#   BUILD_DIR  default build (needs kestrane and bench/bench_minimal_window)
#   RUNS       runs per program, the median is taken (default 20)
set -euo pipefail
build=$(readlink -f "${1:-build}")
runs=${2:-20}
kestrane=$build/kestrane
minimal=$build/bench/bench_minimal_window
for p in "$kestrane" "$minimal"; do
  [[ -x "$p" ]] || { echo "window-startup.sh: $p is missing (build it first)" >&2; exit 2; }
done
command -v hyperfine > /dev/null || { echo "window-startup.sh: needs hyperfine" >&2; exit 2; }

display=""
for n in 83 84 85 86 87 88 89; do
  if [[ ! -e /tmp/.X11-unix/X$n && ! -e /tmp/.X$n-lock ]]; then display=":$n"; break; fi
done
[[ -n "$display" ]] || { echo "window-startup.sh: no free display from :83 to :89" >&2; exit 2; }
work=$(mktemp -d)
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X${display#:} ]] && break; sleep 0.1; done

# Settings and keyring of a first start, nothing of the user's.
export DISPLAY=$display QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME=$work/config HOME=$work
export KESTRANE_QUIT_AFTER_FIRST_PAINT=1
unset DBUS_SESSION_BUS_ADDRESS

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) processors; medians of $runs runs"
hyperfine --style basic --warmup 3 --runs "$runs" -N --export-json "$work/times.json" \
  -n kestrane "$kestrane" -n minimal "$minimal" > "$work/hyperfine.txt" 2>&1 ||
  { cat "$work/hyperfine.txt" >&2; exit 1; }
python3 - "$work/times.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
k, m = r["kestrane"], r["minimal"]
for name, x in (("kestrane", k), ("bench_minimal_window", m)):
    print("%-22s %8.1f ms median  (user %.1f ms, system %.1f ms)" % (name, x["median"] * 1e3, x["user"] * 1e3, x["system"] * 1e3))
print("ratio %.2f" % (k["median"] / m["median"]))
PY
