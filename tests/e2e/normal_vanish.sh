#!/usr/bin/env bash
# A unit that goes away mid-test (the fault library's "unplug": every read
# from then on fails with ENODEV or ENXIO). The test stops at once with "the
# unit is no longer attached", exit 3, no surface or seek fault recorded and
# a short log; it is saved as a stopped test, and with the unit back the
# next normal test resumes it and passes. The same in the seek scan, and in
# a cursory test.
#
# Usage: normal_vanish.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/normal_lib.bash"
normal_setup "${1:-}" 2
need_faultlib

run first -- --yes --answer 8=0
check "first: exit status 0" equals "$status" 0

# gone NAME PLAN-LINE: a normal test during which the unit goes away
gone() {
    write_plan "$work/$1.plan" "$2"
    run "$1" --plan "$work/$1.plan" -- --yes --answer 8=0 --json
    check "$1: exit status 3" equals "$status" 3
    check "$1: json stopped" equals "$(json "$work/$1.out" 'd["result"]')" stopped
    check "$1: says the unit is no longer attached" \
        has "$work/$1.err" "The unit is no longer attached"
    check "$1: no fault recorded" equals "$(json "$work/$1.out" 'd["counts"]["totalErrors"]')" 0
    check "$1: no failed read in the log" test "$(grep -c -e 'SCAN FAILED' -e 'Status: FAILED' "$log")" -eq 0
    check "$1: a short log" test "$(wc -c <"$log")" -lt 20000
    check "$1: no stop question asked" lacks "$work/$1.err" "=== Message 3: "
}

gone surface "unplug after 3000 ENODEV"
check "surface: saved as a stopped scan" equals "$(unit_files)" \
    ".hdr .siz .ssx .skx .iss .ssa .isk .ska .css .pss .csk .dia"
run resumed -- --yes --answer 8=0
check "surface: resumed with the unit back (exit 0)" equals "$status" 0
check "surface: the fold made" equals "$(sample_size .ssa)" 2

# The surface scan of 2 sections takes about 8,000 reads; the seek scan follows.
gone seek "unplug after 8600 ENXIO"
run resumed-seek -- --yes --answer 8=0
check "seek: the seek scan resumed (message 18)" asked resumed-seek 18
check "seek: resumed with the unit back (exit 0)" equals "$status" 0

write_plan "$work/cursory.plan" "unplug after 500 ENODEV"
cli_lead=(cursory sdz --log "$work/cursory.log")
run_cli cursory --plan "$work/cursory.plan" -- --yes --json
check "cursory: exit status 3" equals "$status" 3
check "cursory: says the unit is no longer attached" \
    has "$work/cursory.err" "The unit is no longer attached"
check "cursory: no failed read in the log" \
    test "$(grep -c -e 'SCAN FAILED' -e 'Status: FAILED' "$work/cursory.log")" -eq 0

finish
