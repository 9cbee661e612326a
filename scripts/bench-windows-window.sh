#!/usr/bin/env bash
# Figures for docs/performance.md under Wine: kestrane.exe from start to the
# summary shown beside kestrane-cli.exe summary, 100 000 instances listed in
# either orientation, and the size of kestrane.exe. Uses the programs
# `scripts/build-windows.sh --tests` built; a throwaway prefix and display.
set -euo pipefail
cd "$(dirname "$0")/../build-windows"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINEPREFIX="$(mktemp -d)"; export WINEPREFIX
work="$(mktemp -d)"
xvfb_pid=""
trap 'wineserver -k >/dev/null 2>&1 || true; [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true; rm -rf "$WINEPREFIX" "$work"' EXIT
# The yardstick: a Win32 window of kestrane.exe's shape and nothing else, built
# with the same compiler, flags and manifest (bench/window/minimal_win32.cpp).
printf '1 24 "%s"\n' "$(realpath ../src/win32/kestrane.exe.manifest)" > "$work/minimal.rc"
x86_64-w64-mingw32-windres "$work/minimal.rc" -O coff -o "$work/minimal.res"
x86_64-w64-mingw32-g++-posix -O3 -std=c++20 -municode -mwindows -static -DUNICODE -D_UNICODE \
  -DWIN32_LEAN_AND_MEAN -I../src ../bench/window/minimal_win32.cpp "$work/minimal.res" \
  -o bench_minimal_win32.exe -lcomctl32
. ../scripts/wine-display.sh
start_display 73 79
wine wineboot --init >/dev/null 2>&1 || true
wineserver -w
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
cp ../tests/fixtures/snapshots/sample.json "$work/"
wine kestrane_window_test.exe "$(winepath -w kestrane.exe)" "$(winepath -w kestrane-cli.exe)" \
  "$(winepath -w "$work")" 96 --bench 2> /dev/null
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
ls -l kestrane.exe | awk '{printf "kestrane.exe: %.1f MB\n", $5 / 1048576}'
