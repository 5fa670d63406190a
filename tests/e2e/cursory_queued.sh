#!/usr/bin/env bash
# A cursory test with eight reads in flight (--queue-depth 8) against the same
# test one read at a time, on an image unit with the fault library: the same
# failed sections, the same BAD DATA and irregularity lines, the same stop;
# the queued test says in its log and --json that its indices are not
# comparable with a normal test's.
#
# Usage: cursory_queued.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/cursory_lib.bash"
cursory_setup "$@"
need_faultlib

unit="$work/four.img"
sparse_image "$unit" $((4 * G))
plan="$work/four.plan"
write_plan "$plan" "$unit" \
    "eio $((G / 2)) $((G / 2 + 4096))" \
    "slow $((G + G / 2)) $((G + G / 2 + 4096)) 700000" \
    "eio $((2 * G + G / 2 + 262144)) $((2 * G + G / 2 + 266240))"

# The lines that must not depend on how many reads are in flight (the
# response time to the millisecond: the clock runs on between two reads).
findings() {
    grep -E 'BAD DATA DETECTED|SCAN FAILED|Irregularity at byte|Scan start|PASSED|FAILED|EVALUATED' "$1" |
        sed -E 's/(response time [0-9]+\.[0-9]{3})[0-9]*/\1/'
}

for depth in 1 8; do
    run "depth$depth" --plan "$plan" -- cursory "$unit" --no-seek --no-probe --yes --json \
        --queue-depth $depth
    check "depth $depth: exit status 1 (errors found)" equals "$status" 1
    findings "$log" >"$work/findings$depth"
    cp "$log" "$work/log$depth"
done
check "the same findings at depth 8 as at depth 1" cmp -s "$work/findings1" "$work/findings8"
check "two failed sections" equals "$(json "$work/depth8.out" 'len(d["failedSections"])')" 2
check "the same failed sections" equals "$(json "$work/depth8.out" 'd["failedSections"]')" \
    "$(json "$work/depth1.out" 'd["failedSections"]')"
check "the slow read is one irregularity" equals "$(count "$work/log8" "Irregularity at byte $((G + G / 2)),")" 1
check "depth 8: the faults were met" has "$work/depth8.faults" "eio=2"
check "depth 8: said in the log" has "$work/log8" "Queue depth: 8 reads in flight"
check "depth 1: nothing said" lacks "$work/log1" "Queue depth:"
check "depth 8: json depth" equals "$(json "$work/depth8.out" 'd["queueDepth"]')" 8
check "depth 8: indices not comparable" \
    equals "$(json "$work/depth8.out" 'd["rpisComparableWithNormalTests"]')" False
check "depth 1: indices comparable" \
    equals "$(json "$work/depth1.out" 'd["rpisComparableWithNormalTests"]')" True

# The error limit's question stops the test mid-queue: the same sections were
# read when it ended.
for depth in 1 8; do
    run "stop$depth" --plan "$plan" -- cursory "$unit" --no-seek --no-probe --error-limit 1 \
        --answer 0=1 --answer 2=0 --answer 6=1 --queue-depth $depth
    check "stop at depth $depth: exit status 3" equals "$status" 3
    check "stop at depth $depth: terminated" has "$log" "Surface Scan Terminated by User at: "
    findings "$log" >"$work/stopped$depth"
done
check "the same stop at depth 8 as at depth 1" cmp -s "$work/stopped1" "$work/stopped8"

# The unit pulled out mid-queue: noticed in a queued read as in a plain one.
gone_plan="$work/gone.plan"
write_plan "$gone_plan" "$unit" "unplug at $((G + G / 2)) ENODEV"
run gone --plan "$gone_plan" -- cursory "$unit" --no-seek --yes --queue-depth 8
check "gone at depth 8: exit status 3" equals "$status" 3
check "gone at depth 8: said" has "$log" "no longer attached"
check "gone at depth 8: no bad data recorded" lacks "$log" "BAD DATA DETECTED"

run bad-depth -- cursory "$unit" --queue-depth 33
check "a depth above 32 is refused" equals "$status" 2
finish
