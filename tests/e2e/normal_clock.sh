#!/usr/bin/env bash
# Normal tests whose wall clock is stepped back an hour in the middle of the
# surface scan and again in the seek scan (an NTP step, a user changing the
# time), through the fault library: every timing comes from the monotonic
# clock, so the tests pass, their durations are what they took, and no data
# file holds nan, inf or a negative time. A data file that does hold one
# (planted) is damaged: the next test offers the designed roll-back.
#
# Usage: normal_clock.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/normal_lib.bash"
normal_setup "$@" 1
need_faultlib

hour=3600000000
plan="$work/clock.plan"
# Section reads in the middle of the unit, and the seek scan's location 15.
middle=$((G / 2))
location=$(((size / 512 / 30) * 15 * 512))
write_plan "$plan" \
    "wallstep -$hour at $middle" \
    "wallstep -$hour at $location"

sound_files() { # no nan, inf or negative number in the unit's scan and average files
    local p
    p="$data/$(prefix)"
    ! grep -HniE '(^|[ :])-[0-9]|nan|inf' "$p.iss" "$p.ssa" "$p.isk" "$p.ska" "$p.css" "$p.csk" \
        >"$work/.bad" ||
        {
            head -3 "$work/.bad" | sed 's/^/     /'
            false
        }
}

for name in first second; do
    run "$name" --plan "$plan" -- --yes --json
    check "$name: exit status 0" equals "$status" 0
    check "$name: the clock was stepped" grep -q 'wallstep_us=-' "$work/$name.faults"
    check "$name: passed" equals "$(json "$work/$name.out" 'd["result"]')" passed
    check "$name: its duration is not negative" \
        python3 -c 'import json,sys; t=json.load(open(sys.argv[1]))["timings"]; sys.exit(0 if t["seconds"] is not None and 0 <= t["seconds"] < 600 and t["surfaceSeconds"] >= 0 else 1)' \
        "$work/$name.out"
    check "$name: no nan, inf or negative time in the unit's files" sound_files
done
check "two tests folded" equals "$(sample_size .ssa)/$(sample_size .ska)" "2/2"

# A seek file whose ratio index reads nan: the integrity check finds the
# file damaged and asks the designed roll-back question (1013).
csk=$(unit_file .csk)
sed -i 's/^RPISKRAT: .*/RPISKRAT: nan/' "$csk"
run planted -- --yes
check "planted nan: message 1013 asked" asked planted 1013
check "planted nan: the file is named damaged" has "$log" "is treated as damaged"
run rolled -- --yes --answer 1013=1
check "planted nan: rolled back and tested (exit 0)" equals "$status" 0
check "planted nan: no nan left" sound_files

finish
