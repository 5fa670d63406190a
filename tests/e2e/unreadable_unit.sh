#!/usr/bin/env bash
# A unit that cannot be read at all, through the fault library: a 1 GiB image
# of which every read fails. The sizing sweep gives up after a few probes
# (message 1000, no test, exit 3) within seconds and writes a short log whose
# words stand after its start line. And a unit whose last section is 512
# bytes long names a bad place that ends with the unit.
#
# Usage: unreadable_unit.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/cursory_lib.bash"
cursory_setup "$@"
need_faultlib

GiB=1073741824
image="$work/dead.img"
sparse_image "$image" "$GiB"
plan="$work/dead.plan"
write_plan "$plan" "$image" "eio 0 $GiB sticky"

for kind in cursory normal; do
    started=$(date +%s%N)
    run "dead-$kind" --plan "$plan" -- "$kind" "$image" --yes --json
    elapsed=$((($(date +%s%N) - started) / 1000000))
    check "dead $kind: exit status 3" equals "$status" 3
    check "dead $kind: message 1000" has "$work/dead-$kind.err" "=== Message 1000: ERROR 1000: Sizing Scan Failed. ==="
    check "dead $kind: ends within a few seconds ($elapsed ms)" test "$elapsed" -lt 5000
    check "dead $kind: log under 100 KB" test "$(stat -c %s "$log")" -lt 102400
    check "dead $kind: says nothing could be read" has "$log" "No part of the unit could be read"
    start_line=$(grep -n "SIZING SCAN START" "$log" | head -1 | cut -d: -f1)
    byte0_line=$(grep -n "Could not access byte 0" "$log" | head -1 | cut -d: -f1)
    check "dead $kind: byte 0 after the start line" test "${start_line:-0}" -gt 0 -a "${byte0_line:-0}" -gt "${start_line:-0}"
    check "dead $kind: no line more than three times in a row" \
        test "$(uniq -c "$log" | awk '$2 != "" && $1 > 3' | wc -l)" -eq 0
    check "dead $kind: json result" equals "$(json "$work/dead-$kind.out" 'd["result"]')" refused
    [ "$kind" = cursory ] && check "dead cursory: no data files written" no_data_files
done

# A unit of one section and 512 bytes whose last read fails: the bad place
# is those 512 bytes, not a whole read unit beyond the end.
MiB=1048576
image="$work/short.img"
sparse_image "$image" $((MiB + 512))
plan="$work/short.plan"
# The sizing probe of the last block reads [1 MiB, 1 MiB + 512) and passes;
# the scan's read there asks for more and fails.
write_plan "$plan" "$image" "eio $((MiB + 512)) $((MiB + 4096)) sticky"
run short --plan "$plan" -- cursory "$image" --yes --no-seek --no-probe
check "short: exit status 1" equals "$status" 1
check "short: the bad place ends with the unit" \
    has "$log" "   BAD DATA DETECTED BETWEEN $MiB AND $((MiB + 512)) BYTES."

finish
