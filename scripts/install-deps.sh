#!/usr/bin/env bash
# Installs what the native build and its tests need from Debian 12's packages: the compiler
# and build tools, the libraries (stb for its block compressor, stb_dxt), GoogleTest and
# CLI11, and the tools the tests call
# (ImageMagick, avifenc, Python, GNU time, strace); and any extra packages named.
# Usage: scripts/install-deps.sh [extra packages...]
set -euo pipefail
source "$(dirname "$0")/lib/packages.sh"

ensure_packages \
    build-essential cmake ninja-build pkg-config \
    libopenimageio-dev libisal-dev libpng-dev libcli11-dev libheif-dev libwebp-dev \
    zlib1g-dev libstb-dev \
    libgtest-dev googletest \
    imagemagick libavif-bin python3 time strace \
    "$@"
