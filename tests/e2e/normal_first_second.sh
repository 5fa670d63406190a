#!/usr/bin/env bash
# The first and the second normal test of a new unit through tolvarin-cli.
# The first stores the baseline: header, index files, ".iss", ".ssa",
# ".isk", ".ska", ".css", ".csk" (device state 1535), the diagnostics history
# with its start records, and an initial report (A1, equal initial and
# current indices). The second folds into the averages (sample size 2),
# leaves no previous or temporary file behind, keeps the baseline byte for
# byte and writes a comparative report (A2). Where the machine allows, a
# first test on a loop device as well.
#
# Usage: normal_first_second.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/normal_lib.bash"
normal_setup "$@" 3

# --- the first test: a new unit ------------------------------------------------
run first -- --yes --json
check "first: exit status 0" equals "$status" 0
check "first: the files of a unit at rest" \
    equals "$(unit_files)" ".hdr .siz .ssx .skx .iss .ssa .isk .ska .css .csk .dia"
check "first: no backups left" equals "$(backups)" 0
check "first: sizing file" has "$(unit_file .siz)" "CSZ: $size"
check "first: three sections recorded" equals "$(records .iss)" 3
check "first: 435 pairs recorded" equals "$(records .isk)" 435
check "first: baseline complete" complete .iss
check "first: averages of one scan" equals "$(sample_size .ssa)/$(sample_size .ska)" "1/1"
check "first: current files are copies of the baseline" \
    equals "$(sed '$d' "$(unit_file .iss)" | md5sum)" "$(sed '$d' "$(unit_file .css)" | md5sum)"
check "first: surface start record" equals "$(grep -c '^SRTS:' "$(unit_file .dia)")" 1
check "first: seek start record" equals "$(grep -c '^SKTS:' "$(unit_file .dia)")" 1
check "first: no findings" equals "$(grep -c -v -e '^SRTS:' -e '^SKTS:' "$(unit_file .dia)")" 0
check "first: the log ends the test" has "$log" "ALL TESTS ON THIS UNIT ARE NOW COMPLETE"
check "first: the prefix in the log" has "$log" " Tolvarin File Prefix: $(prefix)"
check "first: message 8" asked first 8
check "first: json passed" equals "$(json "$work/first.out" 'd["result"]')" passed
check "first: json initial scan" equals "$(json "$work/first.out" 'd["rpis"]["initialScan"]')" True
check "first: identical initial and current indices" \
    equals "$(json "$work/first.out" 'd["rpis"]["initial"] == d["rpis"]["current"]')" True
report=$(json "$work/first.out" 'd["report"]')
check "first: report path printed" has "$work/first.err" "report: $report"
check "first: report in Documents" equals "$(dirname "$report")" "$home/Documents"
check "first: report A1" has "$report" "This is an initial scan and the values for the initial"
check "first: report passed" has "$report" "PASSED"
check "first: report B1" has "$report" "The sizing scan completed without any errors."
first_report=$report
baseline="$work/baseline"
snapshot "$baseline"

# --- the second test: compared with the baseline --------------------------------
sleep 1 # a report name of its own (the name carries the second)
run second -- --yes --json
check "second: exit status 0" equals "$status" 0
check "second: no resume question" lacks "$work/second.err" "Resuming"
check "second: the files of a unit at rest" \
    equals "$(unit_files)" ".hdr .siz .ssx .skx .iss .ssa .isk .ska .css .csk .dia"
check "second: averages of two scans" equals "$(sample_size .ssa)/$(sample_size .ska)" "2/2"
check "second: no backups left" equals "$(backups)" 0
for f in .hdr .siz .ssx .skx .iss .isk; do
    check "second: $f unchanged" cmp -s "$baseline/$(prefix)$f" "$(unit_file $f)"
done
check "second: current scans rewritten" differ "$baseline/$(prefix).css" "$(unit_file .css)"
check "second: second start records" equals "$(grep -c '^SRTS:' "$(unit_file .dia)")" 2
check "second: json not initial" equals "$(json "$work/second.out" 'd["rpis"]["initialScan"]')" False
check "second: json keeps the baseline's indices" \
    equals "$(json "$work/second.out" 'd["rpis"]["initial"]')" \
    "$(json "$work/first.out" 'd["rpis"]["initial"]')"
report=$(json "$work/second.out" 'd["report"]')
check "second: a report of its own" test "$report" != "$first_report" -a -f "$report"
check "second: report A2" has "$report" "This is a comparative scan"
check "second: surface comparison" grep -q -e "surface scan linear RPI" -e "surface scan ratio RPI" \
    "$report"
check "second: seek comparison" grep -q -e "seek scan linear RPI" -e "seek scan ratio RPI" \
    "$report"

# --- a first test on a loop device over another image -----------------------------
if [ "$(id -u)" = 0 ] && command -v losetup >/dev/null && [ -e /dev/loop-control ]; then
    truncate -s "$G" "$work/loop.img"
    if loop=$(losetup --find --show "$work/loop.img" 2>/dev/null); then
        cleanup_hooks+=("losetup -d '$loop' 2>/dev/null")
        # The real disk tool lists the loop device under its kernel name.
        (
            unset TOLVARIN_DEV_DIR TOLVARIN_DISKTOOL
            "$cli" normal "$loop" --yes --json --log "$work/loop.log" </dev/null \
                >"$work/loop.out" 2>"$work/loop.err"
            echo $? >"$work/loop.status"
        )
        check "loop: exit status 0" equals "$(cat "$work/loop.status")" 0
        check "loop: the device tested" has "$work/loop.log" "Raw device designation: $loop"
        loop_prefix=$(json "$work/loop.out" 'd["filePrefix"]')
        check "loop: a unit of its own" test "$loop_prefix" != "$(prefix)"
        check "loop: one section" equals "$(grep -c '^I:' "$data/$loop_prefix.iss")" 1
        check "loop: at rest" test -f "$data/$loop_prefix.csk"
        check "loop: report A1" has "$(json "$work/loop.out" 'd["report"]')" "This is an initial scan"
    else
        echo "skip loop device: losetup refused"
    fi
else
    echo "skip loop device: needs root and loop devices"
fi

finish
