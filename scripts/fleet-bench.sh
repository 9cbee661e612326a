#!/usr/bin/env bash
# Figures for the fleet store (docs/performance.md): SQLite size per capture
# against the snapshot file, a diff of two captures of this computer, and a
# report over 100 stored computers.
#   scripts/fleet-bench.sh [BUILD_DIR [SNAPSHOT [LATER_SNAPSHOT]]]
# Without SNAPSHOT this computer is captured twice (a.json, b.json); without
# LATER_SNAPSHOT the diff compares SNAPSHOT with itself.
set -euo pipefail
cli="$(cd "${1:-build}" && pwd)/kestrane-cli"
[ -n "${2:-}" ] && set -- "$1" "$(realpath "$2")" "${3:+$(realpath "$3")}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

if [ -n "${2:-}" ]; then
  cp "$2" a.json && cp "${3:-$2}" b.json
else
  "$cli" capture a.json >/dev/null
  "$cli" capture b.json >/dev/null
fi
snap=$(stat -c %s a.json)

# 100 computers: this computer's capture under 100 names.
for i in $(seq 1 100); do
  python3 - "$i" <<'PY'
import json, sys
d = json.load(open("a.json"))
d["computer"] = "PC%03d" % int(sys.argv[1])
json.dump(d, open("pc%s.json" % sys.argv[1], "w"))
PY
done
"$cli" --store s.sqlite import pc*.json >/dev/null
sqlite3_size=$(stat -c %s s.sqlite)
[ -f s.sqlite-wal ] && sqlite3_size=$((sqlite3_size + $(stat -c %s s.sqlite-wal)))

best() {  # the best of five runs, in milliseconds
  local b=999999
  for _ in 1 2 3 4 5; do
    local t0 t1
    t0=$(date +%s%N); "$@" >/dev/null; t1=$(date +%s%N)
    local ms=$(( (t1 - t0) / 1000000 ))
    [ "$ms" -lt "$b" ] && b=$ms
  done
  echo "$b"
}

echo "snapshot file: $snap bytes"
echo "SQLite store, 100 captures: $sqlite3_size bytes ($(python3 -c "print(round($sqlite3_size/100/$snap, 2))")x the file per capture)"
echo "diff of two captures of this computer: $(best "$cli" diff a.json b.json) ms"
echo "report Win32_Product over 100 computers: $(best "$cli" --store s.sqlite report Win32_Product) ms"
echo "report Win32_Product --csv over 100 computers: $(best "$cli" --store s.sqlite report Win32_Product --csv) ms"
