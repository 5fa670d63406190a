#!/usr/bin/env bash
# A later normal test stopped with "Don't Save": "Delete Current Only"
# brings back exactly the unit's files
# as they were before the test (byte for byte, from the surface scan and from
# the seek scan, after a stop by the error limit and by Ctrl-C), and
# "Delete All" removes every file of the unit and its backups.
#
# Usage: normal_dontsave.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/normal_lib.bash"
normal_setup "$@" 2
need_faultlib

# Two bad blocks in section 0, the second where the probe sweep that follows
# the first one looks (13,107,200 bytes on): its error stops the surface scan.
bad=$((50 * 1048576))
surface_plan="$work/surface.plan"
write_plan "$surface_plan" "eio $bad $((bad + 4096))" "eio $((bad + 13107200)) $((bad + 13107200 + 4096))"
# Seek location 5 of this unit: 4,096,000 sectors / 30 = 136,533 sectors apart.
location=$((5 * 136533 * 512))
seek_plan="$work/seek.plan"
write_plan "$seek_plan" "eio $location $((location + 4096))"
dont_save=(--yes --probe --error-limit 1 --answer 2=0)

run baseline -- --yes
check "baseline: exit status 0" equals "$status" 0
run later -- --yes
check "later: exit status 0" equals "$status" 0
before="$work/before"
snapshot "$before"
prefix=$(prefix)

for phase in surface seek; do
    plan="$work/$phase.plan"
    # "Don't Save", then "Delete Current Only".
    run "$phase-back" --plan "$plan" -- "${dont_save[@]}" --answer 3=-1 --answer 9=-1
    check "$phase: exit status 3" equals "$status" 3
    check "$phase: stopped in the $phase scan" grep -qi "^$phase Scan Terminated by User at:" "$log"
    check "$phase: message 9" asked "$phase-back" 9
    check "$phase: the files as before the test" same_files "$before"
    check "$phase: no backups left" equals "$(backups)" 0
done

# Ctrl-C during the surface scan is the Stop button.
"$cli" normal sdz --yes --answer 3=-1 --answer 9=-1 --log "$work/interrupt.log" </dev/null \
    >"$work/interrupt.out" 2>"$work/interrupt.err" &
pid=$!
for _ in $(seq 200); do
    grep -q "START OF SURFACE SCAN TEST" "$work/interrupt.log" 2>/dev/null && break
    sleep 0.05
done
kill -INT "$pid"
wait "$pid"
status=$?
check "interrupt: exit status 3" equals "$status" 3
check "interrupt: stop requested" has "$work/interrupt.err" "Stop requested."
check "interrupt: the files as before the test" same_files "$before"

# "Delete All": every file of the unit goes, its header included.
run delete --plan "$surface_plan" -- "${dont_save[@]}" --answer 3=-1 --answer 9=0
check "delete: exit status 3" equals "$status" 3
check "delete: no file of the unit left (its lock aside)" \
    equals "$(find "$data" \( -name "$prefix.*" -o -name ".$prefix.*" \) ! -name '*.lock' | wc -l)" 0
check "delete: no backups left" equals "$(backups)" 0

# The next test registers the unit anew and stores a new baseline.
run again -- --yes --json
check "again: exit status 0" equals "$status" 0
check "again: a new baseline" equals "$(json "$work/again.out" 'd["rpis"]["initialScan"]')" True

finish
