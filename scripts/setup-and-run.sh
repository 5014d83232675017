#!/usr/bin/env bash
# From a fresh Debian 12 machine: install, build, and convert the bundled sample map into
# the ten textures out/new1.tga .. out/new10.tga.
# Usage: scripts/setup-and-run.sh [orbilune-cli options, e.g. --size 2048 --bilinear]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
# The browser viewer's package (three.js), from the npm registry; its test tools
# (devDependencies) are left to scripts/test-viewer.sh.
if command -v npm >/dev/null; then
    (cd viewer && npm ci --omit=dev --no-audit --no-fund --loglevel=error)
fi
mkdir -p out
build/bin/orbilune-cli "$@" assets/earth-2048x1024.jpg out
echo "The ten textures are in $(pwd)/out"
