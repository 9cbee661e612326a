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
out=$(mktemp)
trap 'rm -f "$out"' EXIT
printf '%s\n' "${files[@]}" | xargs -P2 -n4 clang-tidy -p build --quiet 2>/dev/null > "$out" || true
# A header's finding shows once per file that includes it.
grep -E '^/.*: (warning|error): ' "$out" | sort -u | tee /dev/stderr | wc -l | {
    read -r n
    echo "$n findings" >&2
    [ "$n" -eq 0 ]
}
