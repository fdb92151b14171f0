#!/usr/bin/env bash
# Counts the ARM instructions a program of the cross build executes under
# qemu-arm (Debian's qemu-user has no instruction-counting plugin): qemu logs
# every translated block with its instructions (in_asm) and every execution
# of a block (exec; nochain so that none is skipped), and the executions are
# summed with their block's length. Blocks are told apart by their host
# address, which the first execution follows the translation of at once.
#
#   bench/arm_insns.sh [--by-function] SYSROOT PROGRAM [ARGS...]
#
# --by-function: one line per function (as qemu names the block's start),
# most instructions first, the total last.
#
# Child processes it starts before exec are counted too; the count of a whole
# run varies by a few ten thousand with them, so compare two runs that differ
# by many repetitions of what is measured, for example
#
#   for n in 10 110; do bench/arm_insns.sh $SYSROOT build/armel-bench/bench/rt_cycle_bench --fixed idle $n; done
set -euo pipefail
by_function=0
if [ "${1:-}" = --by-function ]; then
    by_function=1
    shift
fi
[ $# -ge 2 ] || { sed -n '2,20s/^# \{0,1\}//p' "$0" >&2; exit 2; }
sysroot=$1; shift
qemu-arm -L "$sysroot" -d in_asm,exec,nochain -D /dev/stderr "$@" 2>&1 >/dev/null | awk -v by_function=$by_function '
    /^IN:/ { inblk = 1; n = 0; next }
    inblk && /^0x[0-9a-f]+:/ { n++; next }
    inblk && /^$/ { inblk = 0; pending = n; fresh = 1; next }
    /^Trace/ {
        if (fresh) { len[$3] = pending; fresh = 0 }
        total += len[$3]
        if (by_function) fn[NF >= 5 ? $5 : "(shared libraries)"] += len[$3]
    }
    END {
        if (by_function)
            for (f in fn)
                printf "%.0f %s\n", fn[f], f | "sort -rn"
        close("sort -rn")
        printf "%.0f%s\n", total, by_function ? " total" : ""
    }'
