#!/usr/bin/env bash
# Hostile input and faults, hardened: the native test suite built with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-asan/ (the OpenImageIO module included), then every
# fuzz target for a fixed number of inputs from a fixed seed, so that two runs of one commit
# mutate the same inputs and give the same verdict. Any finding fails it. The fuzzing starts
# from fuzz/corpus/ and the kept findings, fuzz/regressions/ (which the test suite also
# replays), and keeps what it finds new in a fresh folder, never in the starting corpus.
# Open-ended fuzzing is scripts/fuzz.sh.
# Usage: scripts/test-hardening.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz-common.sh

scripts/install-deps.sh clang-14 libclang-rt-14-dev llvm-14  # llvm-14: symbolised reports

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++-14 -DORBILUNE_SANITIZE=ON
cmake --build build-asan
# An error of either sanitizer ends the process with a failure.
ASAN_OPTIONS=$ASAN_OPTIONS:abort_on_error=0 \
UBSAN_OPTIONS=$UBSAN_OPTIONS:halt_on_error=1 \
ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer \
    ctest --test-dir build-asan --output-on-failure -j2

# Inputs per target: about a minute each on two cores.
declare -A fuzz_runs=([picture]=80000 [png_reader]=150000 [command_line]=40000)
build_fuzz_targets "${fuzz_targets[@]}"
# Where addresses are random, the libraries' tables keyed by pointers come out in another
# order from run to run, and with them the paths the fuzzer sees: it runs without address
# randomisation where the system allows it.
setarch -R true 2>/dev/null && fuzz_launcher=(setarch -R)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in "${fuzz_targets[@]}"; do
    # The starting inputs by name, in one order everywhere (a folder's order is the file
    # system's); the fuzzer's own finds go to a folder of their own, reloaded never.
    seeds=$({ find "fuzz/corpus/$target" "fuzz/regressions/$target" -type f 2>/dev/null || true; } |
        LC_ALL=C sort | paste -sd,)
    mkdir "$work/$target"
    run_fuzz_target "$target" "build-fuzz/$target.log" -seed=1 -runs="${fuzz_runs[$target]}" -reload=0 \
        -seed_inputs="$seeds" "$work/$target" || status=1
done
[ "$status" = 0 ] || fuzz_finding_advice
exit "$status"
