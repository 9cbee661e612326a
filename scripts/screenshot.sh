#!/usr/bin/env bash
# Starts kestrane in a virtual X display with fresh settings, optionally
# clicks through it, and saves a PNG of the screen.
#   scripts/screenshot.sh OUT.png [xdotool commands...]
# KESTRANE_BIN names another program to start, such as an installed
# /usr/bin/kestrane; by default build/kestrane is built if missing.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-kestrane.png}
shift || true
bash scripts/setup-deps.sh --extra xvfb xauth imagemagick xdotool
bin=${KESTRANE_BIN:-./build/kestrane}
[ -n "${KESTRANE_BIN:-}" ] || [ -x build/kestrane ] || { cmake -S . -B build > /dev/null && cmake --build build -j"$(nproc)" --target kestrane; }
home=$(mktemp -d)
display=${KESTRANE_DISPLAY:-:97}  # another display where :97 is taken
Xvfb $display -screen 0 1280x900x24 -nolisten tcp > /dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$home"' EXIT
sleep 1
HOME=$home XDG_CONFIG_HOME=$home/.config DISPLAY=$display "$bin" &
app=$!
sleep 2
for cmd in "$@"; do
  DISPLAY=$display xdotool $cmd || true
  sleep 1
done
DISPLAY=$display import -window root "$out"
kill $app 2>/dev/null || true
wait $app 2>/dev/null || true
echo "saved $out"
