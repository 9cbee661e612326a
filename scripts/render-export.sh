#!/usr/bin/env bash
# Exports a listing to HTML with kestrane-cli and renders it in headless
# Chromium to a PNG, to see the export the way a user's browser shows it.
#   scripts/render-export.sh OUT.png [NODE_KEY] [kestrane-cli options...]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-export.png}
node=${2:-Win32_Processor}
shift 2 || true
bash scripts/setup-deps.sh --extra chromium
[ -x build/kestrane-cli ] || { cmake -S . -B build > /dev/null && cmake --build build -j"$(nproc)" --target kestrane-cli; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
./build/kestrane-cli "$@" export "$node" "$work/export.html"
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$work/profile" --window-size=1000,900 \
  --screenshot="$(realpath -m "$out")" "file://$work/export.html" > /dev/null 2>&1
echo "saved $out"
