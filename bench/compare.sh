#!/usr/bin/env bash
# Side-by-side ratios, whole process against whole process:
#   kestrane-cli summary            against  lshw -json
#   kestrane-cli summary            against  kestrane-cli tree
#   kestrane-cli list Win32_Process against  ps -eo pid,ppid,user,comm,rss,vsz,etime,args
#   kestrane-cli list Win32_Thread  against  ps -eLo pid,lwp,pri,stat,time,comm
#   kestrane (the window) to its tree painted against a minimal Qt window
# the process and thread lists at the machine's current process count and
# again with 1 000 extra sleeping processes that this script starts and stops
# itself; then the peak memory of plain-text listings of a generated
# 1 000 000-instance snapshot, both orientations (bench/gen-big-snapshot.py).
#
# usage: bench/compare.sh [--install] [--processes] [KESTRANE_CLI] [RUNS]
#   KESTRANE_CLI  default build/kestrane-cli
#   RUNS          runs per command, the median is taken (default 9)
#   --install     first installs lshw and hyperfine with apt-get (needs root)
#   --processes   only the process and thread lists (both sizes)
#
# The process list is also run alternately with ps (bench/side_by_side.py):
# median wall and processor time (user + system of every thread) of each.
#
# Uses hyperfine when installed, otherwise its own loop of medians. Other
# work on the machine moves wall times: note the load average printed.
set -euo pipefail

if [[ "${1:-}" == "--install" ]]; then
  shift
  # Only for this script; the program itself never runs either.
  apt-get install -y --no-install-recommends lshw hyperfine
fi

only_processes=false
if [[ "${1:-}" == "--processes" ]]; then
  shift
  only_processes=true
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

if ! $only_processes; then
if command -v lshw > /dev/null; then
  row "summary / lshw -json" "$(median_ms "$cli" summary)" "$(median_ms lshw -json)"
else
  echo "summary / lshw -json: lshw is missing (apt-get install lshw, or run with --install)"
fi

row "summary / tree" "$(median_ms "$cli" summary)" "$(median_ms "$cli" tree)"
fi

ps_cmd=(ps -eo pid,ppid,user,comm,rss,vsz,etime,args)
ps_threads=(ps -eLo pid,lwp,pri,stat,time,comm)
lists() {
  local n t
  n=$(ls -d /proc/[0-9]* | wc -l)
  t=$(ls -d /proc/[0-9]*/task/[0-9]* 2> /dev/null | wc -l)
  row "list Win32_Process / ps ($n processes)" "$(median_ms "$cli" list Win32_Process)" "$(median_ms "${ps_cmd[@]}")"
  row "list Win32_Thread / ps -L ($t threads)" "$(median_ms "$cli" list Win32_Thread)" "$(median_ms "${ps_threads[@]}")"
  echo "  list Win32_Process and ps alternately, medians of $runs:"
  python3 "$(dirname "$0")/side_by_side.py" "$runs" kestrane-cli ps -- "$cli" list Win32_Process -- "${ps_cmd[@]}" |
    sed 's/^/    /'
}
lists

# 1 000 sleeping processes of our own, stopped again whatever happens.
pids=()
cleanup() { ((${#pids[@]})) && kill "${pids[@]}" 2> /dev/null; wait 2> /dev/null || true; }
trap cleanup EXIT
for ((i = 0; i < 1000; i++)); do
  sleep 3600 &
  pids+=($!)
done
lists
cleanup
pids=()
$only_processes && exit 0

# Peak resident memory of plain-text listings of a million instances.
big=$(mktemp --suffix=.json)
python3 "$(dirname "$0")/gen-big-snapshot.py" "$big" 1000000
for o in "" --horizontal; do
  /usr/bin/time -f '%M' -o "$big.kb" "$cli" --snapshot "$big" list Win32_Thread $o > /dev/null
  printf '%-44s %10s MB\n' "list of 1 000 000 instances ${o:-(vertical)}" "$(awk '{printf "%.1f", $1 / 1024}' "$big.kb")"
done
rm -f "$big" "$big.kb"

# The window's start-up to the tree painted, beside a minimal Qt window.
build_dir=$(dirname "$cli")
if [[ -x "$build_dir/kestrane" && -x "$build_dir/bench/bench_minimal_window" ]] && command -v Xvfb > /dev/null; then
  "$(dirname "$0")/window-startup.sh" "$build_dir" "$runs"
else
  echo "window start-up: needs $build_dir/kestrane, $build_dir/bench/bench_minimal_window and Xvfb"
fi
