#!/usr/bin/env bash
# A report that cannot be written is not announced: with the Documents
# folder replaced by a file, the test's scans pass but the run says no
# report was written and why, the JSON has "report": null and the reason,
# the exit status is 3 and message 8 (which says a report was made) is not
# raised. Put right, the next test writes its report and announces it.
# As root, a Documents folder that is a link is not followed.
# A data folder that is a link is refused the same truthful way: exit 3,
# the final line and the JSON, and no log announced that is not written.
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
check "json: times in ISO 8601" python3 -c 'import json,sys,datetime
t = json.load(open(sys.argv[1]))["timings"]
a, b = (datetime.datetime.fromisoformat(t[k]) for k in ("started", "ended"))
sys.exit(0 if a.tzinfo is not None and a <= b else 1)' "$work/written.out"

# As root, a Documents folder that is a link is not followed: the log the
# logger proposes is refused with the reason, nothing is made in the folder
# the link points to.
if [ "$(id -u)" = 0 ]; then
    mkdir -p "$work/rootdocs"
    rm -rf "$home/Documents"
    ln -s "$work/rootdocs" "$home/Documents"
    cli_lead=(normal sdz)
    run_cli docs-link -- --yes --answer 8=0 --json
    check "linked Documents: exit status 3" equals "$status" 3
    check "linked Documents: says why" has "$work/docs-link.err" "is a symbolic link"
    check "linked Documents: nothing written through the link" test -z "$(ls -A "$work/rootdocs")"
    rm "$home/Documents"
fi

# The data folder a link to another folder: refused, nothing written there.
mv "$data" "$work/real-data"
ln -s "$work/real-data" "$data"
ls -A "$work/real-data" | sort >"$work/real-before"
cli_lead=(normal sdz) # the log the logger proposes
run_cli linked -- --yes --answer 8=0 --json
check "linked data folder: exit status 3" equals "$status" 3
check "linked data folder: the final line says why" \
    has "$work/linked.err" "tolvarin-cli: no test was run: The data directory could not be used"
check "linked data folder: json refused" equals "$(json "$work/linked.out" 'd["result"]')" refused
check "linked data folder: no log announced" lacks "$work/linked.err" "Log file: "
check "linked data folder: no log written" test -z "$(find "$home/Documents" -name 'Log*' 2>/dev/null)"
check "linked data folder: nothing written through the link" \
    equals "$(ls -A "$work/real-data" | sort | md5sum)" "$(md5sum <"$work/real-before")"

finish
