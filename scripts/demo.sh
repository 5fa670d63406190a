#!/usr/bin/env bash
# The main job on the built-in demo unit (scripts/demo_unit.bash): a cursory
# test of a 4.2 GB image file (sparse: it takes no room) with a few unreadable
# and slow places put there by the fault library, run through tolvarin-cli
# with its answers given, ending with the results; then a first and a second
# normal test of the same unit, each with its report.
#
# Usage: scripts/demo.sh [BUILD_DIR]. Everything the demo writes stays in
# BUILD_DIR/demo (the log of the test in BUILD_DIR/demo/home/Documents).
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
cli="$build/bin/tolvarin-cli"
faultlib="$build/lib/libtolvarin_fault.so"
if [ ! -x "$cli" ]; then
    echo "demo: $cli is not built (run 'make build' first)" >&2
    exit 2
fi

demo="$build/demo"
home="$demo/home"
image="$demo/demo-unit.img"
plan="$demo/demo-unit.plan"
rm -rf "$demo"
. "$(dirname "${BASH_SOURCE[0]}")/demo_unit.bash"
# The demo switches no system service.
demo_preferences "$home"
demo_unit "$image" "$plan"

echo "Demo unit: $image ($(du -h --apparent-size "$image" | cut -f1) sparse)"
echo "Fault plan: $plan"
echo

run=(env TOLVARIN_HOME="$home" "$cli" cursory "$image" --yes --json)
if [ -f "$faultlib" ]; then
    run=(env LD_PRELOAD="$faultlib" TOLVARIN_FAULT_PLAN="$plan" "${run[@]}")
else
    echo "(the fault library is not built here: the demo unit reads clean)"
fi

set +e
"${run[@]}" </dev/null >"$demo/summary.json"
status=$?
set -e

log=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["log"] or "")' \
    "$demo/summary.json" 2>/dev/null || true)
echo
echo "================ Results ================"
if [ -n "$log" ] && [ -f "$log" ]; then
    grep -E "SCAN FAILED - |Scan Passed\(I\)|Irregularity at byte|Failure rate|THERE WERE|RESULTS:|RPI:" \
        "$log" || true
    echo
    echo "The whole log: $log"
fi
echo "Summary (--json):"
cat "$demo/summary.json"
echo "tolvarin-cli exit status: $status (0 passed, 1 errors found, 3 did not run to its end)"
cursory_status=$status

# Then two normal tests of the same unit: the first stores its baseline in
# the data directory, the second is compared with it. Each writes a report.
normal_test() { # N
    local n=$1 out="$demo/normal$1.json"
    local test=("${run[@]/#cursory/normal}") # the same command line, normal
    set +e
    "${test[@]}" </dev/null >"$out"
    status=$?
    set -e
    python3 - "$out" "$n" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
kind = "first (baseline)" if sys.argv[2] == "1" else "second (compared with the baseline)"
c = d["counts"]
print("Normal test %s: %s, %d errors, %d irregularities"
      % (kind, d["result"], c["totalErrors"], c["totalIrregularities"]))
if d["rpis"]:
    i, k = d["rpis"]["initial"], d["rpis"]["current"]
    print("  surface linear RPI: initial %s, current %s" % (i["surfaceLinear"], k["surfaceLinear"]))
    print("  seek linear RPI:    initial %s, current %s" % (i["seekLinear"], k["seekLinear"]))
print("  report: %s" % d["report"])
print("  log:    %s" % d["log"])
PY
    echo "tolvarin-cli exit status: $status"
}
echo
echo "================ Normal tests ================"
normal_test 1
normal_status=$status
sleep 1 # the report names carry the second
normal_test 2
echo "Data files of the unit: $home/Library/Application Support/Tolvarin"
# Finding errors on the demo unit is the point of the demo.
[ "$cursory_status" -le 1 ] && [ "$normal_status" -le 1 ] && [ "$status" -le 1 ]
