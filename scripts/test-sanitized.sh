#!/usr/bin/env bash
# Builds the tests with AddressSanitizer and UndefinedBehaviorSanitizer
# (LeakSanitizer comes with ASan) into build-asan/ and runs them all; the
# fuzz entry points replay their seeds here too. Any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
. scripts/build-env.sh
# Its own flags: fortified string functions would bypass the sanitizer's checks.
generator=()
[ -f build-asan/CMakeCache.txt ] || generator=(-G Ninja)
cmake "${generator[@]}" -S . -B build-asan -DCMAKE_UNITY_BUILD=ON -DKESTRANE_SANITIZE=ON -DKESTRANE_BUILD_TESTS=ON -DKESTRANE_BUILD_BENCH=OFF > /dev/null
cmake --build build-asan -j"$(nproc)"
supp="$PWD/scripts/lsan.supp"
cd build-asan
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$supp:print_suppressions=0"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
