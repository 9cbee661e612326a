#!/usr/bin/env bash
# Starts build-windows/kestrane.exe under Wine on a virtual display of its own
# with a snapshot, optionally clicks through it, and saves a PNG of the
# screen cropped to the window (open menus included).
#   scripts/screenshot-windows.sh OUT.png SNAPSHOT [xdotool commands...]
# WINDOW in a command stands for the window's id, so that
# "mousemove --window WINDOW 93 10 click 1" clicks in the window.
# The Wine prefix and the display are thrown away afterwards; Xvfb is stopped
# by its process id.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "$1")
snapshot=$(realpath "$2")
shift 2
exe=${KESTRANE_EXE:-build-windows/kestrane.exe}  # another build of the window
[ -x "$exe" ] || bash scripts/build-windows.sh
unset WAYLAND_DISPLAY
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINEPREFIX="$(mktemp -d)"
export WINEPREFIX
xvfb_pid=""
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
. scripts/wine-display.sh
start_display 83 89
wine wineboot --init >/dev/null 2>&1 || true
wineserver -w
wine "$exe" "$(winepath -w "$snapshot")" >/dev/null 2>&1 &
window=""
for _ in $(seq 150); do
  window=$(xdotool search --name '^Kestrane - System Information Tool$' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { echo "kestrane.exe showed no window" >&2; exit 1; }
sleep 3
for cmd in "$@"; do
  # shellcheck disable=SC2086
  xdotool ${cmd//WINDOW/$window} || true
  sleep 1.5
done
eval "$(xdotool getwindowgeometry --shell "$window")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out"
echo "saved $out"
