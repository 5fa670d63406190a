#!/usr/bin/env bash
# Tests that would collide. A second normal test of a unit under test is
# refused at once (exit 3) and touches nothing of the first, which runs to
# its end; a cursory test of that unit is refused too. Two units seen for
# the first time, tested at the same moment, get distinct prefixes. A test
# killed with SIGKILL leaves no lock behind.
#
# Usage: normal_collide.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/normal_lib.bash"
normal_setup "${1:-}" 12

# wait_for FILE TEXT: until FILE holds TEXT (at most 60 s)
wait_for() {
    local i
    for ((i = 0; i < 600; i++)); do
        [ -f "$1" ] && grep -qF -- "$2" "$1" && return 0
        sleep 0.1
    done
    false
}

log="$work/first.log"
"$cli" normal sdz --log "$log" --yes --answer 8=0 --json </dev/null \
    >"$work/first.out" 2>"$work/first.err" &
first=$!
cleanup_hooks+=("kill -9 $first 2>/dev/null")
check "first: its surface scan started" wait_for "$log" "Scan start - "

# A cursory test of the unit, started alongside.
"$cli" cursory sdz --log "$work/third.log" --yes </dev/null >"$work/third.out" 2>"$work/third.err" &
third=$!
begin=$(date +%s%N)
run second -- --yes --answer 8=0 --json
elapsed=$((($(date +%s%N) - begin) / 1000000))
check "second: refused with exit status 3" equals "$status" 3
check "second: refused within a second ($elapsed ms)" test "$elapsed" -lt 1000
check "second: says another test uses the unit" has "$work/second.err" "Another test is using this unit"
check "second: json result refused" equals "$(json "$work/second.out" 'd["result"]')" refused
check "second: nothing asked" lacks "$work/second.err" "=== Message"

wait "$third"
status=$?
check "cursory of the unit under test: refused with exit status 3" equals "$status" 3

wait "$first"
status=$?
check "first: ran to its end (exit 0)" equals "$status" 0
check "first: passed" equals "$(json "$work/first.out" 'd["result"]')" passed
check "first: its files are whole" equals "$(unit_files)" ".hdr .siz .ssx .skx .iss .ssa .isk .ska .css .csk .dia"

# Killed in the middle of a test, the lock goes with the process.
"$cli" normal sdz --log "$work/killed.log" --yes --answer 8=0 </dev/null \
    >"$work/killed.out" 2>"$work/killed.err" &
killed=$!
check "killed: its scan started" wait_for "$work/killed.log" "Scan start - "
kill -9 "$killed"
wait "$killed" 2>/dev/null
run after-kill -- --yes --answer 8=0
check "after a SIGKILL the unit is not held" lacks "$work/after-kill.err" "Another test is using"

# Two units never seen before, started together.
# (Sizes differ: two blank image files of one size are one unit to the catalogue.)
truncate -s 64M "$work/a.img"
truncate -s 80M "$work/b.img"
for unit in a b; do
    "$cli" normal "$work/$unit.img" --log "$work/$unit.log" --yes --answer 8=0 </dev/null \
        >"$work/$unit.out" 2>"$work/$unit.err" &
    eval "pid_$unit=$!"
done
wait "$pid_a"
status_a=$?
wait "$pid_b"
status_b=$?
check "two new units at once: both ran to their end" equals "$status_a/$status_b" 0/0
check "two new units at once: a header each" \
    equals "$(find "$data" -maxdepth 1 -name 'M*.hdr' | wc -l)" 3
check "two new units at once: distinct unit numbers" \
    equals "$(find "$data" -maxdepth 1 -name 'M*.hdr' -printf '%f\n' | cut -c1-3 | sort -u | wc -l)" 3

finish
