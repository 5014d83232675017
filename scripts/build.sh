#!/usr/bin/env bash
# Configures and builds the native generator, command line and tests into build/.
# Usage: scripts/build.sh [extra cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build build
