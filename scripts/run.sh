#!/usr/bin/env bash
# Installs what is missing, builds Kestrane and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
. scripts/build-env.sh
configure build
cmake --build build -j"$(nproc)" --target kestrane kestrane-cli
exec ./build/kestrane "$@"
