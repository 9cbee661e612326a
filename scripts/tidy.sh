#!/usr/bin/env bash
# Runs clang-tidy (checks in .clang-tidy) over the program's sources in
# build/compile_commands.json (made by scripts/test.sh), tests excluded.
# Arguments narrow it to directories under src/ (default: all of src/).
# Exit status 1 when there is any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build/compile_commands.json ] || { echo "no build/compile_commands.json: run scripts/test.sh first" >&2; exit 2; }
dirs=("${@:-src}")
files=()
for d in "${dirs[@]}"; do
    while IFS= read -r f; do files+=("$f"); done < <(find "$PWD/${d%/}" -name '*.cpp' | sort)
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# One log per file, so that the two parallel runs never interleave lines.
printf '%s\n' "${files[@]}" | xargs -P2 -I{} sh -c \
    'clang-tidy -p build --quiet "$1" > "$2/$(echo "$1" | tr / _).log" 2>/dev/null' _ {} "$out" || true
# A header's finding shows once per file that includes it.
findings=$(cat "$out"/*.log | grep -E '^/.*: (warning|error): ' | sort -u || true)
[ -n "$findings" ] && echo "$findings"
n=$(printf '%s' "$findings" | grep -c . || true)
echo "$n findings" >&2
[ "$n" -eq 0 ]
