#!/usr/bin/env bash
# Installs the Debian packages Kestrane builds and tests with (as root, or
# through sudo). Packages already present are left alone.
set -euo pipefail

packages=(
  g++ cmake make ccache pkg-config
  qt6-base-dev qtkeychain-qt6-dev libgl-dev adwaita-icon-theme
  nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev libsystemd-dev
  libssh-dev libssl-dev openssh-server openssh-client
)
if [ "${1:-}" = "--extra" ]; then
  shift
  packages+=("$@")
fi

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
