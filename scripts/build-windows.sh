#!/usr/bin/env bash
# Cross-builds kestrane-cli.exe and the window kestrane.exe for 64-bit Windows with MinGW-w64 into
# build-windows/ (statically linked: it needs no DLL beyond Windows' own).
#   build-windows.sh [--tests]   also the Windows test programs
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh --windows
tests=OFF
[ "${1:-}" = "--tests" ] && tests=ON
. scripts/build-env.sh
generator=()
[ -f build-windows/CMakeCache.txt ] || generator=(-G Ninja)
cmake "${generator[@]}" -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
  -DKESTRANE_BUILD_APP=OFF -DKESTRANE_BUILD_BENCH=OFF -DKESTRANE_BUILD_TESTS=$tests > /dev/null
cmake --build build-windows -j"$(nproc)"
ls -l build-windows/kestrane-cli.exe build-windows/kestrane.exe
