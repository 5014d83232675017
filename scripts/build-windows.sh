#!/usr/bin/env bash
# Builds the Windows program, build-windows/bin/orbilune.exe (one self-contained .exe), its
# command line orbilune-cli.exe and its tests from Linux with MinGW-w64, installing the cross
# compiler first if need be.
# Warnings are errors, as in the native build. Extra arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh

ensure_packages "${windows_build_packages[@]}"
cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DORBILUNE_WERROR=ON "$@"
cmake --build build-windows
echo "built build-windows/bin/orbilune.exe and build-windows/bin/orbilune-cli.exe"
