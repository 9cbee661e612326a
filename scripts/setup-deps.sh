#!/usr/bin/env bash
# Installs the Debian packages Kestrane builds and tests with (as root, or
# through sudo), in one apt-get call. Packages already present are left alone.
#   setup-deps.sh [--packaging] [--windows] [--ci] [--extra PACKAGE...]
# --ci: everything .ci/run needs (packaging and windows), installed up front.
set -euo pipefail

# iproute2 and procps: the live tests compare addresses with ip and processes
# with ps, which a minimal Debian lacks. postgresql: the fleet store's tests
# start a server of their own (never the machine's). krb5-kdc,
# krb5-admin-server (kadmin.local), krb5-user (kinit) and python3-gssapi: the
# WS-Management Kerberos test runs a realm of its own the same way.

packages=(
  g++ cmake make ninja-build ccache pkg-config dpkg-dev
  qt6-base-dev qtkeychain-qt6-dev gnome-keyring libgl-dev adwaita-icon-theme
  nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev libsystemd-dev
  libssh-dev libssl-dev openssh-server openssh-client python3-winrm python3-ntlm-auth python3-cryptography python3-requests-ntlm openssl
  libcurl4-openssl-dev libkrb5-dev gss-ntlmssp libpugixml-dev
  iproute2 procps
  libsqlite3-dev libpq-dev postgresql
  krb5-kdc krb5-admin-server krb5-user python3-gssapi
)
# scripts/package.sh and scripts/test-package.sh: man pages, icons, the
# packages' dependencies, lintian, the desktop and AppStream validators, the
# MIME lookup and a virtual display for the installed window.
packaging=(
  scdoc librsvg2-bin dpkg-dev file
  lintian desktop-file-utils appstream libglib2.0-bin xvfb xdotool
)
# scripts/build-windows.sh, scripts/test-windows.sh and
# scripts/package-windows.sh: the MinGW-w64 cross compiler, Wine with a
# virtual display to run the programs, and the MSI tools.
windows=(
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev googletest librsvg2-bin icoutils
  wine wine64 xvfb wixl msitools
)
while [ $# -gt 0 ]; do
  case "$1" in
    --packaging) packages+=("${packaging[@]}") ;;
    --windows) packages+=("${windows[@]}") ;;
    --ci) packages+=("${packaging[@]}" "${windows[@]}") ;;
    --extra) shift; packages+=("$@"); break ;;
    *) echo "setup-deps.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
