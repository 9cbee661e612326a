#!/usr/bin/env bash
# Builds the Windows installer build-windows/kestrane-VERSION-x64.msi with
# wixl (Debian's msitools) from the programs scripts/build-windows.sh makes.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh --windows
[ -f build-windows/kestrane.exe ] && [ -f build-windows/kestrane-cli.exe ] || bash scripts/build-windows.sh
version="$(sed -n 's/^project(Kestrane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
msi="kestrane-$version-x64.msi"
# File sources in the .wxs are named relative to build-windows/.
(cd build-windows && wixl --arch x64 -D Version="$version" -o "$msi" ../packaging/windows/kestrane.wxs)
ls -l "build-windows/$msi"
