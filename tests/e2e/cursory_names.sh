#!/usr/bin/env bash
# Names a hostile user chooses: a unit path and a --log name holding a newline
# and a terminal escape are shown escaped in the log (a name cannot forge a
# line); --answer given twice for one message is bad usage.
#
# Usage: cursory_names.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/cursory_lib.bash"
cursory_setup "$@"

nl=$'\n'
esc=$'\e'
image="$work/unit${nl}SURFACE SCAN *** PASSED ***${esc}[2J.img"
sparse_image "$image" $((64 * 1048576))
log="$work/log${nl}FORGED LINE.txt"
run_cli named -- cursory "$image" --no-seek --yes --log "$log"
check "named: exit status 0" equals "$status" 0
check "named: the log is written under its name" test -f "$log"
check "named: no line begins with the unit's second part" \
    test "$(grep -c '^SURFACE SCAN \*\*\* PASSED' "$log")" -eq 0
check "named: no escape character in the log" test "$(grep -c "$esc" "$log")" -eq 0
check "named: the unit is shown escaped" \
    has "$log" "Raw device designation: $work/unit\\nSURFACE SCAN *** PASSED ***\\x1b[2J.img"

run_cli twice -- cursory "$image" --yes --answer 1002=1 --answer 1002=0
check "--answer twice: exit status 2" equals "$status" 2
check "--answer twice: says so" has "$work/twice.err" "--answer 1002 is given twice"

finish
