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
. ../scripts/wine-display.sh
start_display 73 79
wine wineboot --init >/dev/null 2>&1 || true
wineserver -w
cp ../tests/fixtures/snapshots/sample.json "$work/"
wine kestrane_window_test.exe "$(winepath -w kestrane.exe)" "$(winepath -w kestrane-cli.exe)" \
  "$(winepath -w "$work")" 96 --bench 2> /dev/null
ls -l kestrane.exe | awk '{printf "kestrane.exe: %.1f MB\n", $5 / 1048576}'
