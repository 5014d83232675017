#!/usr/bin/env bash
# Tests the browser viewer (viewer/index.html) in headless Chromium: textures made by
# orbilune-cli from the sample map, loaded through the page, compared with `orbilune-cli globe`.
# Installs Chromium and Node.js with apt-get when missing, and the page's packages with npm ci.
# Usage: scripts/test-viewer.sh [BUILD_DIR]   (default: build; uses BUILD_DIR/bin/orbilune-cli)
set -euo pipefail
cd "$(dirname "$0")/.."

cli="${1:-build}/bin/orbilune-cli"
if [ ! -x "$cli" ]; then
    echo "error: $cli not found: build the command line first (scripts/build.sh)" >&2
    exit 1
fi

source scripts/lib/packages.sh
viewer_packages=(chromium)
# Node.js may come from another source than Debian's packages; only install it if absent.
command -v node >/dev/null && command -v npm >/dev/null || viewer_packages+=(nodejs npm)
ensure_packages "${viewer_packages[@]}"

(cd viewer && npm ci --no-audit --no-fund --loglevel=error)
ORBILUNE_CLI="$(realpath "$cli")" node --test viewer/test/
