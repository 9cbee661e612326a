#!/usr/bin/env bash
# Side-by-side ratios, whole process against whole process:
#   kestrane-cli summary            against  lshw -json
#   kestrane-cli list Win32_Process against  ps -eo pid,ppid,user,comm,rss,vsz,etime,args
# the process list at the machine's current process count and again with
# 1 000 extra sleeping processes that this script starts and stops itself.
#
# usage: bench/compare.sh [KESTRANE_CLI] [RUNS]
#   KESTRANE_CLI  default build/kestrane-cli
#   RUNS          runs per command, the median is taken (default 9)
#   --install     first installs lshw and hyperfine with apt-get (needs root)
#
# Uses hyperfine when installed, otherwise its own loop of medians. Other
# work on the machine moves wall times: note the load average printed.
set -euo pipefail

if [[ "${1:-}" == "--install" ]]; then
  shift
  # Only for this script; the program itself never runs either.
  apt-get install -y --no-install-recommends lshw hyperfine
fi

cli=${1:-build/kestrane-cli}
runs=${2:-9}
[[ -x "$cli" ]] || { echo "compare.sh: $cli is not an executable kestrane-cli (build it first)" >&2; exit 2; }
cli=$(readlink -f "$cli")

# Median wall time of a command in milliseconds.
median_ms() {
  if command -v hyperfine > /dev/null; then
    local json
    json=$(mktemp)
    hyperfine --style none --warmup 2 --runs "$runs" -N --export-json "$json" "$*" > /dev/null 2>&1 ||
      hyperfine --style none --warmup 2 --runs "$runs" --export-json "$json" "$*" > /dev/null
    python3 -c 'import json,sys; print("%.2f" % (json.load(open(sys.argv[1]))["results"][0]["median"] * 1000))' "$json"
    rm -f "$json"
  else
    local i t0 t1 times=()
    "$@" > /dev/null 2>&1 || true  # warm-up
    for ((i = 0; i < runs; i++)); do
      t0=$(date +%s%N)
      "$@" > /dev/null 2>&1 || true
      t1=$(date +%s%N)
      times+=($(( (t1 - t0) / 1000 )))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.2f\n", a[int((NR+1)/2)]/1000}'
  fi
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

row() {  # label, kestrane ms, other ms
  printf '%-44s %10s ms %10s ms %8s\n' "$1" "$2" "$3" "$(ratio "$2" "$3")"
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) processors; medians of $runs runs"
command -v hyperfine > /dev/null && echo "timing: hyperfine" || echo "timing: own loop (hyperfine not installed)"
printf '%-44s %13s %13s %8s\n' "" "kestrane-cli" "other" "ratio"

if command -v lshw > /dev/null; then
  row "summary / lshw -json" "$(median_ms "$cli" summary)" "$(median_ms lshw -json)"
else
  echo "summary / lshw -json: lshw is missing (apt-get install lshw, or run with --install)"
fi

ps_cmd=(ps -eo pid,ppid,user,comm,rss,vsz,etime,args)
n=$(ls -d /proc/[0-9]* | wc -l)
row "list Win32_Process / ps ($n processes)" "$(median_ms "$cli" list Win32_Process)" "$(median_ms "${ps_cmd[@]}")"

# 1 000 sleeping processes of our own, stopped again whatever happens.
pids=()
cleanup() { ((${#pids[@]})) && kill "${pids[@]}" 2> /dev/null; wait 2> /dev/null || true; }
trap cleanup EXIT
for ((i = 0; i < 1000; i++)); do
  sleep 3600 &
  pids+=($!)
done
n=$(ls -d /proc/[0-9]* | wc -l)
row "list Win32_Process / ps ($n processes)" "$(median_ms "$cli" list Win32_Process)" "$(median_ms "${ps_cmd[@]}")"
