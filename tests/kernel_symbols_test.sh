#!/usr/bin/env bash
# The kernel instances, built for different instruction sets, must share no function: a weak
# symbol defined by one of them could stand in for another object's copy at link time, and
# the AVX-512 copy then run on a processor without AVX-512. The objects given are the
# instances compiled without optimisation, where nothing is inlined; none may define a weak
# symbol at all (kernel_instance.inl says how they avoid it).
# Usage: tests/kernel_symbols_test.sh KERNEL_OBJECT... (or one CMake list of them)
set -euo pipefail
IFS=';' read -r -a objects <<<"$*"
[ ${#objects[@]} -gt 0 ] || { echo "usage: $0 KERNEL_OBJECT..." >&2; exit 2; }
status=0
for object in "${objects[@]}"; do
    # W and V: weak functions and objects; u: unique globals (inline variables). The pointer
    # to the C++ runtime's exception personality (DW.ref.__gxx_personality_v0) is data that
    # every object holds alike, not code: it is let be.
    weak=$(nm --defined-only -C "$object" |
        awk '$2 ~ /^[WVu]$/ && $3 != "DW.ref.__gxx_personality_v0" { $1 = ""; $2 = ""; print }')
    if [ -n "$weak" ]; then
        echo "$(basename "$object") defines weak symbols:"
        echo "$weak" | sed 's/^ */    /' | head -20
        status=1
    fi
done
[ "$status" = 0 ] && echo "no weak symbols in ${#objects[@]} kernel objects"
exit "$status"
