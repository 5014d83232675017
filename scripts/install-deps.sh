#!/usr/bin/env bash
# Installs what the native build and its tests need from Debian 12's packages.
# Usage: scripts/install-deps.sh [extra packages...]
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    libopenimageio-dev libisal-dev libpng-dev libcli11-dev
    libgtest-dev googletest
    imagemagick time strace
    "$@"
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
