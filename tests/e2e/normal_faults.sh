#!/usr/bin/env bash
# Normal tests of a unit with bad and slow places, through the fault library:
# the errors and irregularities must reach the scan files (failed and
# irregular section records, failed pairs), the diagnostics history (SSE,
# SSI, SKE, SKI records at the right offsets) and the report's verdicts, in
# the initial test and in a comparative one.
#
# Usage: normal_faults.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/normal_lib.bash"
normal_setup "$@" 3
need_faultlib

# 30 seek locations 104,857,600 bytes apart. Location 5 cannot be read (its
# pairs fail, and section 0 with it); location 25 is slow (its pairs are
# irregular, and section 2 with it); section 1 has a bad block and section 2
# a slow one away from the seek locations.
step=104857600
bad_seek=$((5 * step))
slow_seek=$((25 * step))
bad_block=$((G + 50 * 1048576))
slow_block=$((2 * G + 50 * 1048576))
plan="$work/unit.plan"
write_plan "$plan" \
    "eio  $bad_seek $((bad_seek + 4096))" \
    "eio  $bad_block $((bad_block + 4096))" \
    "slow $slow_seek $((slow_seek + 4096)) 600000" \
    "slow $slow_block $((slow_block + 4096)) 700000"

check_findings() { # NAME SCANFILE: the findings of one test
    local name=$1 scan=$2
    local dia
    dia=$(unit_file .dia)
    check "$name: exit status 1" equals "$status" 1
    check "$name: the faults were hit" test -s "$work/$name.faults"
    check "$name: section 0 failed" grep -qE '^I:0 .* A:N/A S:N/A .* E:0 OC:0 EC:1$' "$(unit_file "$scan")"
    check "$name: section 1 failed" grep -qE '^I:1 .* A:N/A S:N/A .* E:0 OC:0 EC:1$' "$(unit_file "$scan")"
    check "$name: section 2 irregular" grep -qE '^I:2 .* O:0 E:1 OC:2 EC:0$' "$(unit_file "$scan")"
    check "$name: SSE at the seek location" has "$dia" "SSE:$bad_seek:0"
    check "$name: SSE at the bad block" has "$dia" "SSE:$bad_block:1"
    check "$name: SSI at the slow block" grep -q "^SSI:$slow_block:0\.7[0-9]*:2$" "$dia"
    check "$name: SSI at the slow location" grep -q "^SSI:$slow_seek:0\.6[0-9]*:2$" "$dia"
    check "$name: 29 failed pairs" equals "$(grep -c "$bad_seek" <(grep '^SKE:' "$dia" | tail -29))" 29
    # The pair of the two locations failed rather than ran slow.
    check "$name: 28 irregular pairs" equals "$(grep -c "$slow_seek" <(grep '^SKI:' "$dia" | tail -28))" 28
    check "$name: json counts" equals \
        "$(json "$work/$name.out" '[d["counts"][k] for k in ("surfaceErrors", "surfaceIrregularities", "seekErrors", "seekIrregularities")]')" \
        "[2, 2, 29, 28]"
}

run first --plan "$plan" -- --yes --json --no-probe --error-limit 100
check_findings first .iss
check "first: failed pairs recorded" \
    equals "$(grep -c '^I:[0-9]* MN:N/A MX:N/A AV:N/A T:N/A O:1 E:0$' "$(unit_file .isk)")" 29
check "first: irregular pairs recorded" equals "$(grep -c '^I:.* O:0 E:1$' "$(unit_file .isk)")" 28
check "first: the unit is at rest" \
    equals "$(unit_files)" ".hdr .siz .ssx .skx .iss .ssa .isk .ska .css .csk .dia"
report=$(json "$work/first.out" 'd["report"]')
check "first: report FAILED" has "$report" "FAILED"
check "first: surface verdict of a failed initial scan" has "$report" "The initial surface scan test failed."
check "first: seek verdict of a failed seek scan" has "$report" "The seek scan test failed."
check "first: irregularities verdict" has "$report" "Irregularities were detected in this test."

sleep 1
run second --plan "$plan" -- --yes --json --no-probe --error-limit 100
check_findings second .css
check "second: averages of two scans" equals "$(sample_size .ssa)/$(sample_size .ska)" "2/2"
check "second: failed sections averaged as unmeasured" \
    equals "$(grep -c '^I:[01] .* A:N/A S:N/A ' "$(unit_file .ssa)")" 2
check "second: failed pairs averaged as unmeasured" \
    equals "$(grep -c 'MN:N/A' "$(unit_file .ska)")" 29
report=$(json "$work/second.out" 'd["report"]')
check "second: report A2" has "$report" "This is a comparative scan"
check "second: comparative surface verdict" grep -q "The surface scan test failed" "$report"
check "second: comparative seek verdict" grep -q "The seek scan test failed" "$report"

finish
