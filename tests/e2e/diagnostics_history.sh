#!/usr/bin/env bash
# Diagnostics runs through tolvarin-cli on an image unit whose normal tests
# recorded errors and irregularities (injected by the fault library): the
# re-tests confirm what is still there and clear what has gone, a finding
# recorded by two tests is re-tested once, --latest-only takes the last
# test only, long recorded reads are listed as possible timeouts, a unit
# that reads nowhere has no reference sector, and Ctrl-C stops a run with
# the stop record.
#
# Usage: diagnostics_history.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/normal_lib.bash"
normal_setup "$@" 3
need_faultlib

# The first test meets an extra bad block in section 0 that the second no
# longer meets; both meet the bad block of section 1 and the slow block of
# section 2. None of them lies on a seek location (every 104,857,600 bytes).
old_bad=$((50 * 1048576))
bad_block=$((G + 50 * 1048576))
slow_block=$((2 * G + 50 * 1048576))
first_plan="$work/first.plan"
write_plan "$first_plan" \
    "eio  $old_bad $((old_bad + 4096))" \
    "eio  $bad_block $((bad_block + 4096))" \
    "slow $slow_block $((slow_block + 4096)) 700000"
plan="$work/unit.plan"
write_plan "$plan" \
    "eio  $bad_block $((bad_block + 4096))" \
    "slow $slow_block $((slow_block + 4096)) 700000"

diagnose() { # diagnose NAME [--plan PLAN] -- ARGS...: tolvarin-cli diagnostics sdz
    log="$work/$1.log"
    cli_lead=(diagnostics sdz --log "$log")
    run_cli "$@"
}
verdicts() { # verdicts NAME: "class@start=verdict ..." of a --json summary
    json "$work/$1.out" '" ".join("%s@%d=%s" % (f["class"], f["start"], f["verdict"]) for f in d["findings"])'
}
counter() { json "$work/$1.out" "d['counters']['$2']"; } # counter NAME KEY

run first --plan "$first_plan" -- --yes --json --no-probe --error-limit 100
check "first normal test: errors found" equals "$status" 1
sleep 1
run second --plan "$plan" -- --yes --json --no-probe --error-limit 100
check "second normal test: errors found" equals "$status" 1
dia=$(unit_file .dia)
check "history: two scan sets" equals "$(grep -c '^SRTS:' "$dia")" 2
check "history: the bad block twice" equals "$(grep -c "^SSE:$bad_block:1$" "$dia")" 2

# --- (a) the faults still in place: confirmed ---------------------------------------
diagnose held --plan "$plan" -- --yes --json
check "held: exit status 1 (bad blocks)" equals "$status" 1
# The old bad block reads well now; the others are as recorded.
check "held: each location re-tested once" equals "$(verdicts held)" \
    "Error@$old_bad=errorNoLongerPresent Error@$bad_block=errorConfirmed Irregularity@$slow_block=weakSector"
check "held: plan" has "$log" "Tests to be performed during this diagnostic session:"
check "held: plan errors" has "$log" $'\t- Confirm detected errors.'
check "held: plan irregularities" has "$log" $'\t- Confirm detected irregularities.'
check "held: reference sector" has "$log" "Using sector starting at byte 0.134218GB (actual:134217728)"
check "held: bad block confirmed" has "$log" $'\tSURFACE SCAN ERROR CONFIRMED AS BAD BLOCK'
check "held: weak sector confirmed" has "$log" $'\tIRREGULARITY CONFIRMED AS A WEAK SECTOR'
check "held: completed" has "$log" "Diagnostics completed at "
check "held: counters" equals "$(counter held badBlocks)/$(counter held weakBlocks)" "1/1"
check "held: message 31" asked held 31

# --- --latest-only: the second test's findings only ----------------------------------
diagnose latest --plan "$plan" -- --yes --json --latest-only
check "latest: exit status 1" equals "$status" 1
check "latest: the last scan set" equals "$(verdicts latest)" \
    "Error@$bad_block=errorConfirmed Irregularity@$slow_block=weakSector"

# --- (b) the faults gone: no longer present ----------------------------------------
diagnose healed -- --yes --json
check "healed: exit status 0" equals "$status" 0
check "healed: verdicts" equals "$(verdicts healed)" \
    "Error@$old_bad=errorNoLongerPresent Error@$bad_block=errorNoLongerPresent Irregularity@$slow_block=falseIrregularity"
check "healed: error no longer present" equals \
    "$(count "$log" $'\tORIGINAL ERROR IS NO LONGER PRESENT')" 2
check "healed: no problems at the slow block" has "$log" $'\tNO PROBLEMS DETECTED'
check "healed: counters zero" equals "$(json "$work/healed.out" 'sorted(set(d["counters"].values()))')" "[0]"

# --- no reference sector: every read fails -------------------------------------------
blind="$work/blind.plan"
write_plan "$blind" "eio 0 $size"
diagnose blind --plan "$blind" -- --yes --json
check "blind: exit status 3" equals "$status" 3
check "blind: message 29" asked blind 29
check "blind: searched" has "$log" "Attempting to obtain reference sector."
check "blind: none used" lacks "$log" "as a reference sector."
check "blind: nothing re-tested" lacks "$log" "Beginning evaluation of detected irregularities."
check "blind: the end named" equals "$(json "$work/blind.out" 'd["end"]')" "noReferenceSector"

# --- Ctrl-C during the re-tests: the stop record and message 32 ----------------------
log="$work/stop.log"
LD_PRELOAD="$faultlib" TOLVARIN_FAULT_PLAN="$plan" \
    "$cli" diagnostics sdz --log "$log" --yes --json </dev/null >"$work/stop.out" 2>"$work/stop.err" &
pid=$!
for _ in $(seq 200); do
    grep -q "Evaluating irregularity at:" "$log" 2>/dev/null && break
    sleep 0.05
done
kill -INT "$pid" 2>/dev/null
wait "$pid"
status=$?
check "stop: exit status 3" equals "$status" 3
check "stop: stop record" has "$log" $'\n\nDIAGNOSTICS STOPPED BY USER'
check "stop: terminated at" has "$log" "Diagnostics were terminated at: "
check "stop: not completed" lacks "$log" "Diagnostics completed at"
check "stop: message 32" asked stop 32
check "stop: the end named" equals "$(json "$work/stop.out" 'd["end"]')" "stopped"

# --- (c) long recorded reads: possible timeouts --------------------------------------
# A third test records two reads of about 12 seconds; the later one falls
# within a second of the earlier and is listed once.
slow_a=$((300 * 1048576))
slow_b=$((2 * G + 300 * 1048576))
long="$work/long.plan"
write_plan "$long" \
    "slow $slow_a $((slow_a + 4096)) 12000000" \
    "slow $slow_b $((slow_b + 4096)) 12400000"
sleep 1
run third --plan "$long" -- --yes --json --no-probe --error-limit 100
check "third normal test: irregularities only" equals "$status" 0
diagnose timeouts -- --yes --json --latest-only
check "timeouts: exit status 0" equals "$status" 0
check "timeouts: plan" has "$log" $'\t- Look for system and drive timeouts.'
check "timeouts: note" has "$log" $'\tA number of the irregularities detected have abnormally long'
check "timeouts: listed once" equals "$(json "$work/timeouts.out" '[round(t, 1) for t in d["possibleTimeouts"]]')" "[12.4]"
check "timeouts: the duration in the log" grep -q $'\t12\\.4[0-9]* Seconds$' "$log"
check "timeouts: likely a timeout" equals "$(count "$log" $'\tORIGINAL IRREGULARITY LIKELY CAUSED BY TIMEOUT')" 2

finish
