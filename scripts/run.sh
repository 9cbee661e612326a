#!/usr/bin/env bash
# Installs what is missing, builds Kestrane and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
cmake -S . -B build -DKESTRANE_BUILD_TESTS=OFF -DKESTRANE_BUILD_BENCH=OFF > /dev/null
cmake --build build -j"$(nproc)" --target kestrane kestrane-cli
exec ./build/kestrane "$@"
