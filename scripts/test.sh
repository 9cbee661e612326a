#!/usr/bin/env bash
# Installs what is missing, builds Kestrane with its tests and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
. scripts/build-env.sh
configure build -DKESTRANE_BUILD_TESTS=ON -DKESTRANE_BUILD_BENCH=OFF
cmake --build build -j"$(nproc)"
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
