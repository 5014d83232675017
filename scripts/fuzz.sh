#!/usr/bin/env bash
# Open-ended fuzzing, for a person or a nightly job (the test command runs the fixed,
# repeatable fuzzing of scripts/test-hardening.sh instead): builds the libFuzzer targets
# into build-fuzz/ and runs each for a bounded time from a random seed, growing its corpus
# in build-fuzz/corpus/ from run to run (fuzz/corpus/ is the start). A crash, a leak, an
# allocation over the limit, an input that runs too long or a broken check fails the run;
# the input that did it is kept in build-fuzz/findings/, to become a regression file.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET (default 60)] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz-common.sh
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${fuzz_targets[@]}")

build_fuzz_targets "${targets[@]}"
status=0
for target in "${targets[@]}"; do
    corpus=build-fuzz/corpus/$target
    mkdir -p "$corpus"
    echo "fuzzing $target for ${seconds}s"
    run_fuzz_target "$target" "build-fuzz/$target.log" -max_total_time="$seconds" \
        "$corpus" "fuzz/corpus/$target" || status=1
done
[ "$status" = 0 ] || fuzz_finding_advice
exit "$status"
