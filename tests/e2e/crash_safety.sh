#!/usr/bin/env bash
# Crash safety of the normal test: tolvarin-cli is killed (SIGKILL) at 100
# random moments of later normal tests on one unit, from its start to its
# last file operations, two kills in a row (the second test may die while it
# undoes the first). After each pair the next normal test, answering
# every message with its default, must run to its end; the baseline files
# must stay byte for byte as they were when the baseline was completed; and
# the sample size of both averages must be one more than the number of later
# tests that completed.
#
# A killed test counts as completed when it committed its files before it
# died: its log holds the completion line and its record of a test under way
# is gone (the record goes right after that line). Otherwise the next test
# undoes it from its backup.
#
# Usage: crash_safety.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
# CRASH_SEED=N repeats a run's kill moments; CRASH_KILLS=N changes their number.
set -u
. "$(dirname "$0")/normal_lib.bash"
normal_setup "$@" 1

seed=${CRASH_SEED:-$(($(date +%s) % 100000))}
kills=${CRASH_KILLS:-100}
echo "seed $seed ($kills kills)"
RANDOM=$seed

millis() { echo $(($(date +%s%N) / 1000000)); }

run baseline -- --yes
check "baseline: exit status 0" equals "$status" 0
prefix=$(prefix)
baseline="$work/baseline"
mkdir -p "$baseline"
for s in .hdr .siz .ssx .skx .iss .isk; do
    cp -p "$data/$prefix$s" "$baseline/"
done

# One later test to learn how long a test takes here.
started=$(millis)
run later -- --yes
duration=$(($(millis) - started))
check "later: exit status 0" equals "$status" 0
completed=1
echo "a later test takes $duration ms"

check_unit() { # NAME: the invariants after a test ran to its end
    local name=$1 s
    for s in .hdr .siz .ssx .skx .iss .isk; do
        if ! cmp -s "$baseline/$prefix$s" "$data/$prefix$s"; then
            fail "$name: baseline $s changed"
            return
        fi
    done
    check "$name: sample sizes" equals "$(sample_size .ssa)/$(sample_size .ska)" \
        "$((completed + 1))/$((completed + 1))"
    check "$name: files at rest" \
        equals "$(unit_files)" ".hdr .siz .ssx .skx .iss .ssa .isk .ska .css .csk .dia"
    check "$name: no backups left" equals "$(backups)" 0
}

for i in $(seq "$kills"); do
    # Anywhere from the start of the program to a little past the usual end.
    delay=$((RANDOM * 32768 + RANDOM))
    delay=$((delay % (duration * 11 / 10 + 1)))
    log="$work/kill$i.log"
    "$cli" normal sdz --yes --log "$log" </dev/null >"$work/kill$i.out" 2>"$work/kill$i.err" &
    pid=$!
    sleep "$(awk -v ms="$delay" 'BEGIN { printf "%.3f", ms / 1000 }')"
    if kill -KILL "$pid" 2>/dev/null; then
        wait "$pid" 2>/dev/null
        how="killed after $delay ms"
        if grep -qF "ALL TESTS ON THIS UNIT ARE NOW COMPLETE" "$log" 2>/dev/null &&
            [ ! -e "$data/prev/.$prefix.run" ] && [ ! -e "$data/prev/.$prefix.undo" ]; then
            completed=$((completed + 1))
            how="$how, after its files were committed"
        fi
    else
        wait "$pid"
        st=$?
        how="ended by itself with status $st"
        [ "$st" = 0 ] && completed=$((completed + 1))
    fi
    echo "     test $i $how"

    # Every other killed test is followed by another kill straight away:
    # that one may die while it undoes the one before.
    if [ $((i % 2)) = 1 ] && [ "$i" -lt "$kills" ]; then
        continue
    fi
    run "after$i" -- --yes
    check "after kill $i: the next test runs to its end" equals "$status" 0
    [ "$status" = 0 ] && completed=$((completed + 1))
    check_unit "after kill $i"
done

finish
