#!/usr/bin/env bash
# Builds the Debian packages kestrane-cli and kestrane into build-pkg/, with
# Debian's compiler and linker hardening flags, and prints their paths.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh --packaging
eval "$(dpkg-buildflags --export=sh)"
# CMAKE_BUILD_TYPE=None: the flags are exactly Debian's, as debhelper does.
cmake -S . -B build-pkg -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" \
  -DKESTRANE_PACKAGE=ON -DKESTRANE_BUILD_TESTS=OFF -DKESTRANE_BUILD_BENCH=OFF > /dev/null
cmake --build build-pkg -j"$(nproc)"
rm -f build-pkg/*.deb
(cd build-pkg && cpack -G DEB > cpack.log 2>&1) || { cat build-pkg/cpack.log >&2; exit 1; }
ls build-pkg/*.deb
