#!/usr/bin/env bash
# Builds the libFuzzer targets (clang) into build-fuzz/ and runs each for a
# bounded time, two at a time. Not part of CI: the test suite replays the
# seeds and past crashes instead.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]   (default 600, all targets)
#   scripts/fuzz.sh --seed                              (only refresh the seeds)
#
# Seeds live in fuzz/corpus/<target>/ (hand-written ones plus copies of the
# test fixtures, named fixture-*); what a run learns goes to
# build-fuzz/corpus/<target>/; crashes to build-fuzz/artifacts/<target>/.
# A crash worth keeping becomes fuzz/regressions/<target>/<name> with a fix.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
fx=tests/fixtures

# target: fixture files (relative to tests/fixtures) it starts from.
seeds() {
    case "$1" in
    snapshot) echo snapshots/sample.json ;;
    linux_text)
        for m in laptop thismachine; do
            for f in proc/cpuinfo proc/meminfo proc/self/mountinfo proc/stat proc/filesystems proc/interrupts \
                     proc/dma proc/ioports proc/iomem proc/bus/input/devices proc/asound/cards etc/os-release \
                     usr/lib/os-release sys/class/dmi/id/bios_date usr/share/misc/pci.ids usr/share/misc/usb.ids; do
                [ -s "$fx/$m/$f" ] && echo "$m/$f"
            done
        done ;;
    smbios) echo laptop/sys/firmware/dmi/tables/DMI laptop/sys/firmware/dmi/tables/smbios_entry_point ;;
    edid) (cd $fx && find . -name edid -size +0 | sed 's|^\./||') ;;
    linux_records)
        (cd $fx && find . \( -name utmp -o -name wtmp -o -name 'vpd_pg80' \) -size +0 | sed 's|^\./||') ;;
    linux_os_text)
        (cd $fx && find . -type f -size +0 -size -200k \( -name passwd -o -name group -o -name shadow \
            -o -name login.defs -o -name crontab -o -name swaps -o -name route -o -name partitions -o -name modules \
            -o -name exports -o -name snmp -o -name diskstats -o -name vmstat -o -name smb.conf -o -name '*.desktop' \
            -o -name '*.service' -o -name stat -o -path '*/dpkg/status' -o -path '*/proc/net/dev' \
            -o -path '*/var/log/*' \) | grep -v '/task/' | sed 's|^\./||') ;;
    linux_os_binary)
        (cd $fx && find . -type f -size +0 \( -name localtime -o -name utmp -o -name wtmp -o -name lastlog \
            -o -name cmdline \) | sed 's|^\./||') ;;
    ipp) (cd $fx && find printserver/var/spool/cups printserver/var/cache/cups -type f -size +0) ;;
    esac
}

seed_all() {
    for t in $(targets); do
        mkdir -p "fuzz/corpus/$t"
        rm -f "fuzz/corpus/$t"/fixture-*
        for f in $(seeds "$t"); do
            cp "$fx/$f" "fuzz/corpus/$t/fixture-$(echo "$f" | tr '/:' '__')"
        done
    done
}

targets() {
    sed -n '/^set(KESTRANE_FUZZ_TARGETS/,/)/p' fuzz/CMakeLists.txt | tr -d '()' | sed 's/set//; s/KESTRANE_FUZZ_TARGETS//' | xargs
}

if [ "${1:-}" = "--seed" ]; then
    seed_all
    exit 0
fi

secs=${1:-600}
shift || true
list=${*:-$(targets)}

if [ -z "${FUZZ_NO_BUILD:-}" ]; then  # FUZZ_NO_BUILD=1: run what build-fuzz/ holds
seed_all
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DKESTRANE_FUZZ=ON -DKESTRANE_BUILD_TESTS=OFF \
    -DKESTRANE_BUILD_APP=OFF -DKESTRANE_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build-fuzz -j2 --target $(for t in $list; do printf 'fuzz_%s ' "$t"; done)
fi

run_one() {
    t=$1
    work="$root/build-fuzz/run/$t"
    mkdir -p "$work" "$root/build-fuzz/corpus/$t" "$root/build-fuzz/artifacts/$t"
    extra=()
    [ -d "$root/fuzz/regressions/$t" ] && extra+=("$root/fuzz/regressions/$t")
    # The JSON reader starts from the snapshot seeds as well.
    [ "$t" = json_reader ] && extra+=("$root/fuzz/corpus/snapshot")
    # -jobs=1: one process per target, its log in fuzz-0.log of its work dir;
    # niced so that builds sharing the machine keep their pace.
    (cd "$work" && nice -n 10 "$root/build-fuzz/fuzz/fuzz_$t" -jobs=1 -max_total_time="$secs" -timeout=10 \
        -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
        -artifact_prefix="$root/build-fuzz/artifacts/$t/" \
        "$root/build-fuzz/corpus/$t" "$root/fuzz/corpus/$t" "${extra[@]}" > /dev/null 2>&1) || true
    crashes=$(find "$root/build-fuzz/artifacts/$t" -type f | wc -l)
    echo "$t: ${secs}s, $(grep -ho 'stat::number_of_executed_units: *[0-9]*' "$work"/fuzz-*.log | tail -1 | awk '{print $2}') runs, $crashes crash files"
}
export -f run_one
export root secs
printf '%s\n' $list | xargs -P2 -I{} bash -c 'run_one {}'
