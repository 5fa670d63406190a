#!/usr/bin/env bash
# A normal test interrupted when only the fold into the averages was left
# (the seek scan complete, its fold written or not) is resumed: no scan runs,
# and the end (exit status, counts in --json, the log, the report) carries the
# findings the stored scan files record, the same as the run that scanned.
# Both for a later test (".skt" beside a complete ".csk") and for the first
# one (a complete ".isk" without its average).
#
# Usage: normal_fold.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/normal_lib.bash"
normal_setup "$@" 1
need_faultlib

# 30 seek locations 34,952,192 bytes apart. Location 5 cannot be read (a
# surface error and its 29 pairs failed); location 25 is slow (its other 28
# pairs irregular).
bad_seek=$((5 * 34952192))
slow_seek=$((25 * 34952192))
plan="$work/unit.plan"
write_plan "$plan" \
    "eio  $bad_seek $((bad_seek + 4096))" \
    "slow $slow_seek $((slow_seek + 4096)) 600000"
go=(--yes --json --no-probe --error-limit 100)

counts() {
    json "$work/$1.out" '[d["counts"][k] for k in ("surfaceErrors", "surfaceIrregularities",
        "seekErrors", "seekIrregularities", "totalErrors", "totalIrregularities")]'
}
# A copy of a stored file under another of the unit's names (its last line
# names the file).
copy_as() { sed "s/^END OF FILE .*/END OF FILE $(basename "$2")/" "$1" >"$2"; }

folded() { # NAME EXPECTED-COUNTS: a resumed fold that scanned nothing
    local name=$1 expected=$2
    check "$name: exit status 1 (errors found)" equals "$status" 1
    check "$name: no surface scan" equals "$(count "$log" "Scan start - ")" 0
    check "$name: no seek scan" equals "$(count "$log" " Seek Start: ")" 0
    check "$name: counts of the stored scans" equals "$(counts "$name")" "$expected"
    check "$name: result failed" equals "$(json "$work/$name.out" 'd["result"]')" failed
    check "$name: the log names the stored findings" \
        has "$log" "Number of errors during seek test: 29"
    check "$name: the terminal says errors were found" has "$work/$name.err" "normal test found errors"
    check "$name: report FAILED" has "$(json "$work/$name.out" 'd["report"]')" "FAILED"
    check "$name: files at rest" \
        equals "$(unit_files)" ".hdr .siz .ssx .skx .iss .ssa .isk .ska .css .csk .dia"
}

run first --plan "$plan" -- "${go[@]}"
check "first: exit status 1" equals "$status" 1
first_counts=$(counts first)
check "first: errors and irregularities found" equals "$first_counts" "[1, 0, 29, 28, 30, 28]"
snapshot "$work/initial"

run second --plan "$plan" -- "${go[@]}"
check "second: exit status 1" equals "$status" 1
second_counts=$(counts second)
check "second: the same findings" equals "$second_counts" "$first_counts"
snapshot "$work/second"

p=$(prefix)
# --- a later test: seek scan done, fold written, averages not yet replaced ---
cp -p "$work/initial/$p.ska" "$data/"
copy_as "$work/initial/$p.csk" "$data/$p.psk"
copy_as "$work/second/$p.ska" "$data/$p.skt"
run later -- "${go[@]}" --answer 18=1
folded later "$second_counts"
check "later: folded once" equals "$(sample_size .ssa)/$(sample_size .ska)" "2/2"
check "later: the seek scan file unchanged" cmp -s "$work/second/$p.csk" "$(unit_file .csk)"

# --- the first test: the baseline seek scan done, no average yet -------------
find "$data" -maxdepth 1 -name "$p.*" -delete
cp -p "$work/initial/"* "$data/"
rm -f "$data/$p.ska" "$data/$p.css" "$data/$p.csk"
run initial -- "${go[@]}" --answer 16=1
folded initial "$first_counts"
check "initial: the baseline seek file unchanged" cmp -s "$work/initial/$p.isk" "$(unit_file .isk)"
check "initial: first averages" equals "$(sample_size .ssa)/$(sample_size .ska)" "1/1"

finish
