# Sourced by scripts/fuzz.sh and scripts/test-hardening.sh: builds the libFuzzer targets
# with AddressSanitizer and UndefinedBehaviorSanitizer into build-fuzz/, sets the sanitizers
# up, and runs one target with the limits every fuzzing run shares.
# Needs clang-14 and libclang-rt-14-dev (scripts/test-hardening.sh installs them).

fuzz_targets=(picture png_reader command_line)

# build_fuzz_targets TARGET...
build_fuzz_targets() {
    cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++-14 -DORBILUNE_FUZZ=ON -DORBILUNE_BUILD_TESTS=OFF >/dev/null
    cmake --build build-fuzz --target "${@/%/_fuzz}"
}

# Full stacks at allocation let the suppressions name the library leaks they excuse. The
# sanitizers of clang 14 misread glibc 2.36's dynamic TLS blocks (those of the libraries
# OpenImageIO loads) and the leak checker then crashes: intercept_tls_get_addr=0 keeps it
# off them. OpenImageIO works on one thread, so that what the fuzzer sees of the coverage
# does not depend on timing.
export ASAN_OPTIONS=fast_unwind_on_malloc=0:detect_leaks=1:intercept_tls_get_addr=0
export LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1
export OPENIMAGEIO_THREADS=1

# What a target's command starts with (for one, a launcher without address randomisation).
fuzz_launcher=()

# run_fuzz_target TARGET LOG LIBFUZZER-OPTION... [CORPUS-FOLDER...]: one target with the
# shared limits. Pictures may take 64 MB while fuzzing (fuzz_checks.h): an allocation of
# more than 512 MB, 2 GB resident or an input that runs for 30 s is a finding, kept in
# build-fuzz/findings/. Prints the target's line of the summary; fails on a finding.
run_fuzz_target() {
    local target=$1 log=$2 max_len=16384 status=0 result runs
    shift 2
    [ "$target" = command_line ] && max_len=512
    mkdir -p build-fuzz/findings
    "${fuzz_launcher[@]}" build-fuzz/bin/"${target}"_fuzz -timeout=30 -rss_limit_mb=2048 -malloc_limit_mb=512 \
        -max_len=$max_len -print_final_stats=1 -close_fd_mask=1 \
        -artifact_prefix=build-fuzz/findings/"$target"- "$@" >"$log" 2>&1 || status=1
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    if [ "$status" = 0 ]; then
        result=clean
    else
        result="FINDING (see $log and build-fuzz/findings/)"
        grep -E '^(==[0-9]+==ERROR|SUMMARY|finding:)' "$log" | head -5 || true
    fi
    echo "$target: ${runs:-?} executions, $result"
    return "$status"
}

fuzz_finding_advice() {
    echo "Reproduce with build-fuzz/bin/TARGET_fuzz FILE; once fixed, keep the file in"
    echo "fuzz/regressions/TARGET/ so that the test suite replays it."
}
