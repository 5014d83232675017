#!/usr/bin/env bash
# Hostile input and faults, hardened: the native test suite built with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-asan/ (the OpenImageIO module included), then every
# fuzz target for a bounded time (scripts/fuzz.sh). Any finding fails it. About eight
# minutes on two cores from clean build folders.
# Usage: scripts/test-hardening.sh [FUZZ_SECONDS_PER_TARGET (default 60)]
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${1:-60}

scripts/install-deps.sh clang-14 libclang-rt-14-dev llvm-14  # llvm-14: symbolised reports

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++-14 -DORBILUNE_SANITIZE=ON
cmake --build build-asan
# Full stacks at allocation let the suppressions name the library leaks they excuse; an
# error of either sanitizer ends the process with a failure; intercept_tls_get_addr=0 as in
# scripts/fuzz.sh.
ASAN_OPTIONS=fast_unwind_on_malloc=0:detect_leaks=1:abort_on_error=0:intercept_tls_get_addr=0 \
LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan.supp \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer \
    ctest --test-dir build-asan --output-on-failure -j2

scripts/fuzz.sh "$fuzz_seconds"
