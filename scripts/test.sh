#!/usr/bin/env bash
# From a fresh Debian 12 machine: install, build and pass every test: the native suites,
# the browser viewer in headless Chromium, the Windows program's suites under Wine, and the
# hardening run (sanitizers, fuzzing).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh -DORBILUNE_WERROR=ON
ctest --test-dir build --output-on-failure -j2
scripts/test-viewer.sh build
scripts/test-windows.sh
scripts/test-hardening.sh
