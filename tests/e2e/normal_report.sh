#!/usr/bin/env bash
# A report that cannot be written is not announced: with the Documents
# folder replaced by a file, the test's scans pass but the run says no
# report was written and why, the JSON has "report": null and the reason,
# the exit status is 3 and message 8 (which says a report was made) is not
# raised. Put right, the next test writes its report and announces it.
#
# Usage: normal_report.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/normal_lib.bash"
normal_setup "${1:-}" 1

rm -rf "$home/Documents"
echo "not a folder" >"$home/Documents"
run blocked -- --yes --answer 8=0 --json
check "no report: exit status 3" equals "$status" 3
check "no report: the scans' verdict stands" equals "$(json "$work/blocked.out" 'd["result"]')" passed
check "no report: json report null" equals "$(json "$work/blocked.out" 'd["report"]')" None
check "no report: json gives the reason" \
    has "$work/blocked.out" '"reportProblem": "'
check "no report: said on the terminal" has "$work/blocked.err" "no report was written: "
check "no report: message 8 not raised" lacks "$work/blocked.err" "=== Message 8: "
check "no report: the unit's files kept the test" equals "$(sample_size .ssa)" 1

rm "$home/Documents"
run written -- --yes --answer 8=0 --json
report=$(json "$work/written.out" 'd["report"]')
check "report: exit status 0" equals "$status" 0
check "report: written where announced" test -f "$report"
check "report: message 8 raised" asked written 8

finish
