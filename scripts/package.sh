#!/usr/bin/env bash
# Builds the Debian packages kestrane-cli and kestrane into build-pkg/, with
# Debian's compiler and linker hardening flags, and prints their paths.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh --packaging
. scripts/build-env.sh
configure build-pkg -DCMAKE_INSTALL_PREFIX=/usr -DKESTRANE_PACKAGE=ON \
  -DKESTRANE_BUILD_TESTS=OFF -DKESTRANE_BUILD_BENCH=OFF
cmake --build build-pkg -j"$(nproc)"
rm -f build-pkg/*.deb
(cd build-pkg && cpack -G DEB > cpack.log 2>&1) || { cat build-pkg/cpack.log >&2; exit 1; }
ls build-pkg/*.deb
