#!/usr/bin/env bash
# Normal tests stopped with "Save" in the initial surface scan, the initial
# seek scan, a later surface scan and a later seek scan, each followed by a
# new test that answers the resume question (messages 15 to 18) one way or
# the other: the scan resumes at the first section or pair not recorded, or
# starts again, and the unit's files are what each phase leaves behind.
#
# The stop comes from the error limit (deterministic, unlike a timed
# Ctrl-C): with a limit of 1 the second error asks message 2, "Terminate"
# sets the stop flag and the scan asks message 3.
#
# Usage: normal_stops.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/normal_lib.bash"
normal_setup "$@" 3
need_faultlib

step=104857600 # between two of the 30 seek locations
# One bad block in section 0 and one in section 1, away from the seek
# locations: the second error stops the surface scan as section 1 closes.
surface_plan="$work/surface.plan"
write_plan "$surface_plan" \
    "eio $((50 * 1048576)) $((50 * 1048576 + 4096))" \
    "eio $((G + 50 * 1048576)) $((G + 50 * 1048576 + 4096))"
# Seek location 5 cannot be read: one surface error, then the first failed
# pair stops the seek scan after its first row of 29 pairs.
seek_plan="$work/seek.plan"
write_plan "$seek_plan" "eio $((5 * step)) $((5 * step + 4096))"

stop_answers=(--yes --no-probe --error-limit 1 --answer 2=0 --answer 3=1)
go_on=(--yes --no-probe --error-limit 100)

new_unit() { rm -rf "$data"; }
scan_lines() { count "$log" "Scan start - "; }
pair_lines() { count "$log" " Seek Start: "; }
first_section() { sed -n 's/^Scan start - .* Index: //p' "$log" | head -1; }

saved() { # NAME SCANFILE FILES: a test stopped with Save
    local name=$1 scan=$2 files=$3
    check "$name: exit status 3" equals "$status" 3
    check "$name: stop question" asked "$name" 3
    check "$name: files of the stopped phase" equals "$(unit_files)" "$files"
    check "$name: scan file terminated" grep -q "Scan Terminated by User" "$(unit_file "$scan")"
    check "$name: no backups left" equals "$(backups)" 0
}
at_rest() { # NAME: a test that ran to its end
    check "$1: ran to its end" has "$log" "ALL TESTS ON THIS UNIT ARE NOW COMPLETE"
    check "$1: files at rest" \
        equals "$(unit_files)" ".hdr .siz .ssx .skx .iss .ssa .isk .ska .css .csk .dia"
    check "$1: no backups left" equals "$(backups)" 0
}

# --- the initial surface scan: message 15 ------------------------------------------
for answer in 1 0; do
    name="initial-surface-$answer"
    new_unit
    run "$name-stop" --plan "$surface_plan" -- "${stop_answers[@]}"
    saved "$name-stop" .iss ".hdr .siz .ssx .skx .iss .dia"
    check "$name-stop: two sections recorded" equals "$(records .iss)" 2

    run "$name" --plan "$surface_plan" -- "${go_on[@]}" --answer 15=$answer
    check "$name: message 15" asked "$name" 15
    if [ "$answer" = 1 ]; then
        check "$name: resumes at section 2" equals "$(first_section)/$(scan_lines)" "2/1"
    else
        check "$name: starts over at section 0" equals "$(first_section)/$(scan_lines)" "0/3"
    fi
    check "$name: three sections, in order" \
        equals "$(grep -o '^I:[0-9]*' "$(unit_file .iss)" | tr '\n' ' ')" "I:0 I:1 I:2 "
    check "$name: errors found, exit 1" equals "$status" 1
    at_rest "$name"
done

# --- the initial seek scan: message 16 ------------------------------------------------
for answer in 1 -1; do
    name="initial-seek-$answer"
    new_unit
    run "$name-stop" --plan "$seek_plan" -- "${stop_answers[@]}"
    saved "$name-stop" .isk ".hdr .siz .ssx .skx .iss .ssa .isk .dia"
    check "$name-stop: the first row recorded" equals "$(records .isk)" 29
    cp "$(unit_file .iss)" "$work/iss" && cp "$(unit_file .ssa)" "$work/ssa"

    run "$name" --plan "$seek_plan" -- "${go_on[@]}" --answer 16=$answer
    check "$name: message 16" asked "$name" 16
    check "$name: no surface scan" equals "$(scan_lines)" 0
    if [ "$answer" = 1 ]; then
        check "$name: resumes at pair 29" equals "$(pair_lines)" 406
    else
        check "$name: the seek scan starts again" equals "$(pair_lines)" 435
    fi
    check "$name: 435 pairs recorded" equals "$(records .isk)" 435
    check "$name: baseline surface scan kept" cmp -s "$work/iss" "$(unit_file .iss)"
    check "$name: surface average kept" cmp -s "$work/ssa" "$(unit_file .ssa)"
    at_rest "$name"
done

# --- later scans: messages 17 and 18 ------------------------------------------------------
new_unit
run baseline -- "${go_on[@]}"
check "baseline: exit status 0" equals "$status" 0
later=0 # later tests run to their end
for answer in 1 0; do
    name="later-surface-$answer"
    cp "$(unit_file .ssa)" "$work/ssa"
    run "$name-stop" --plan "$surface_plan" -- "${stop_answers[@]}"
    saved "$name-stop" .css ".hdr .siz .ssx .skx .iss .ssa .isk .ska .css .pss .csk .dia"
    check "$name-stop: averages untouched" cmp -s "$work/ssa" "$(unit_file .ssa)"

    run "$name" --plan "$surface_plan" -- "${go_on[@]}" --answer 17=$answer
    later=$((later + 1))
    check "$name: message 17" asked "$name" 17
    if [ "$answer" = 1 ]; then
        check "$name: resumes at section 2" equals "$(first_section)/$(scan_lines)" "2/1"
    else
        check "$name: starts again at section 0" equals "$(first_section)/$(scan_lines)" "0/3"
    fi
    check "$name: folded once" equals "$(sample_size .ssa)/$(sample_size .ska)" \
        "$((later + 1))/$((later + 1))"
    at_rest "$name"
done
for answer in 1 0; do
    name="later-seek-$answer"
    run "$name-stop" --plan "$seek_plan" -- "${stop_answers[@]}"
    saved "$name-stop" .csk ".hdr .siz .ssx .skx .iss .ssa .isk .ska .css .csk .psk .dia"
    check "$name-stop: surface folded, seek not yet" \
        equals "$(sample_size .ssa)/$(sample_size .ska)" "$((later + 2))/$((later + 1))"

    run "$name" --plan "$seek_plan" -- "${go_on[@]}" --answer 18=$answer
    later=$((later + 1))
    check "$name: message 18" asked "$name" 18
    check "$name: no surface scan" equals "$(scan_lines)" 0
    if [ "$answer" = 1 ]; then
        check "$name: resumes at pair 29" equals "$(pair_lines)" 406
    else
        check "$name: the seek scan starts again" equals "$(pair_lines)" 435
    fi
    check "$name: folded once" equals "$(sample_size .ssa)/$(sample_size .ska)" \
        "$((later + 1))/$((later + 1))"
    at_rest "$name"
done

finish
