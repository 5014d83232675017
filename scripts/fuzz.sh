#!/usr/bin/env bash
# Builds the libFuzzer targets with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-fuzz/ and runs each for a bounded time. A crash, a leak, an allocation over the
# limit, an input that runs too long or a broken check fails the run; the input that did it
# is kept in build-fuzz/findings/.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET (default 60)] [TARGET...]
# Needs clang-14 and libclang-rt-14-dev (scripts/test-hardening.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(picture png_reader command_line)

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++-14 -DORBILUNE_FUZZ=ON -DORBILUNE_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz --target "${targets[@]/%/_fuzz}"

# Full stacks at allocation let the suppressions name the library leaks they excuse. The
# sanitizers of clang 14 misread glibc 2.36's dynamic TLS blocks (those of the libraries
# OpenImageIO loads) and the leak checker then crashes: intercept_tls_get_addr=0 keeps it
# off them.
export ASAN_OPTIONS=fast_unwind_on_malloc=0:detect_leaks=1:intercept_tls_get_addr=0
export LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1
mkdir -p build-fuzz/findings
status=0
summary=()
for target in "${targets[@]}"; do
    corpus=build-fuzz/corpus/$target  # grows from run to run; fuzz/corpus/ is the start
    mkdir -p "$corpus"
    case $target in
        command_line) max_len=512 ;;
        *) max_len=16384 ;;
    esac
    log=build-fuzz/$target.log
    echo "fuzzing $target for ${seconds}s"
    # Pictures may take 64 MB while fuzzing (fuzz_checks.h): an allocation of more than
    # 512 MB, or 2 GB resident, is a finding.
    if build-fuzz/bin/${target}_fuzz -max_total_time="$seconds" -timeout=30 \
        -rss_limit_mb=2048 -malloc_limit_mb=512 -max_len=$max_len -print_final_stats=1 \
        -close_fd_mask=1 -artifact_prefix=build-fuzz/findings/$target- \
        "$corpus" "fuzz/corpus/$target" >"$log" 2>&1; then
        result=clean
    else
        result="FINDING (see $log and build-fuzz/findings/)"
        status=1
        grep -E '^(==[0-9]+==ERROR|SUMMARY|finding:)' "$log" | head -5 || true
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    summary+=("$target: ${runs:-?} executions, $result")
done
printf '%s\n' "${summary[@]}"
if [ "$status" != 0 ]; then
    echo "Reproduce with build-fuzz/bin/TARGET_fuzz FILE; once fixed, keep the file in"
    echo "fuzz/regressions/TARGET/ so that the test suite replays it."
fi
exit "$status"
