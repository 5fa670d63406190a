#!/usr/bin/env bash
# The questions of a cursory test through tolvarin-cli: a limited range, the
# error limit (Continue resets the count, Terminate leads to the stop
# question), the stop question (0 resumes, anything else ends the test with
# the terminated lines), Ctrl-C as Stop, and a question nobody answers.
#
# Usage: cursory_answers.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/cursory_lib.bash"
cursory_setup "$@"

# --- a limited range: 2 to 5 GB covers sections 1 to 4 whole ----------------
image="$work/six.img"
sparse_image "$image" $((6 * G))
run limited -- cursory "$image" --limit 2 5 --no-seek --answer 0=1 --answer 2000=1
check "limited: exit status 0" equals "$status" 0
check "limited: range confirmed" has "$work/limited.err" "Starting Scan Range: 1.049"
check "limited: range end shown" has "$work/limited.err" "Ending Scan Range: 5.243"
check "limited: limited scan" has "$log" "START OF LIMITED SURFACE SCAN TEST: "
for index in 1 2 3 4; do
    check "limited: section $index scanned" \
        has "$log" "Scan start - Start Byte: $((index * G)) End Byte: $(((index + 1) * G - 1)) Index: $index"
done
check "limited: only those" equals "$(count "$log" "Scan start - Start Byte")" 4
check "limited: no surface indices" lacks "$log" "Surface Scan Linear RPI"
check "limited: the end" has "$log" "END OF LIMITED SURFACE SCAN TEST: "

# A range the adjusted-range message sends back is no test.
logs_before=$(ls "$home/Documents" | wc -l)
run limited-cancel -- cursory "$image" --limit 2 5 --yes --answer 2000=0
check "limited cancelled: exit status 3" equals "$status" 3
check "limited cancelled: no log" equals "$(ls "$home/Documents" | wc -l)" "$logs_before"

if [ -z "$faultlib" ]; then
    echo "skip the fault library checks: it is not built"
    finish
fi

# --- the error limit -----------------------------------------------------------
# Three failing sections with an error limit of 1: the second error asks.
unit="$work/four.img"
sparse_image "$unit" $((4 * G))
plan="$work/four.plan"
write_plan "$plan" "$unit" \
    "eio $((G / 2)) $((G / 2 + 4096))" \
    "eio $((G + G / 2)) $((G + G / 2 + 4096))" \
    "eio $((2 * G + G / 2)) $((2 * G + G / 2 + 4096))"
common=(cursory "$unit" --no-seek --no-probe --error-limit 1 --answer 0=1)

run continue --plan "$plan" -- "${common[@]}" --answer 2=1
check "continue: message 2 asked" has "$work/continue.err" "=== Message 2: Error Limit Exceeded ==="
check "continue: count reset" has "$log" "Current error count reset to 0 by user."
check "continue: the test goes on" \
    has "$log" "THERE WERE A TOTAL OF 4 SCAN SECTIONS EVALUATED, AND 3 HAD FAILURES."
check "continue: asked again after two more errors only" \
    equals "$(count "$work/continue.err" "=== Message 2: ")" 1
check "continue: exit status 1" equals "$status" 1

run resume --plan "$plan" -- "${common[@]}" --answer 2=0 --answer 6=0
check "resume: the stop question" \
    has "$work/resume.err" "=== Message 6: Stop Option Selected in Cursory Test ==="
check "resume: terminate logged" has "$log" "Program being terminated at user request."
check "resume: the scan resumed to its end" has "$log" "END OF SURFACE SCAN TEST: "
check "resume: exit status 1" equals "$status" 1

run terminate --plan "$plan" -- "${common[@]}" --answer 2=0 --answer 6=1 --json
check "terminate: terminated lines" has "$log" "Surface Scan Terminated by User at: "
check "terminate: no pass list" lacks "$log" "The following subsections PASSED"
check "terminate: the end is still announced" \
    has "$work/terminate.err" "=== Message 1: Test Completed. ==="
check "terminate: exit status 3" equals "$status" 3
check "terminate: json stopped" equals "$(json "$work/terminate.out" 'd["result"]')" stopped

# --- Ctrl-C is the Stop button ---------------------------------------------------
# A unit large enough to be still scanning when the signal comes.
big="$work/big.img"
sparse_image "$big" $((60 * G))
LD_PRELOAD= "$cli" cursory "$big" --yes --answer 6=1 </dev/null >"$work/sigint.out" \
    2>"$work/sigint.err" &
pid=$!
for _ in $(seq 1 200); do
    grep -q "Cursory Surface Scan" "$work/sigint.err" 2>/dev/null && break
    sleep 0.1
done
kill -INT "$pid" 2>/dev/null
wait "$pid"
status=$?
log=$(sed -n 's/^Log file: //p' "$work/sigint.err")
check "ctrl-c: stop requested" has "$work/sigint.err" "Stop requested."
check "ctrl-c: the stop question" has "$work/sigint.err" "=== Message 6: "
check "ctrl-c: terminated lines" has "$log" "Surface Scan Terminated by User at: "
check "ctrl-c: exit status 3" equals "$status" 3

# --- a question nobody answers ends the run ----------------------------------------
run unanswered -- cursory "$image"
check "unanswered: exit status 3" equals "$status" 3
check "unanswered: says which message" \
    has "$work/unanswered.err" 'tolvarin-cli: message 0 "You Are About to Launch a Scan" needs an answer (--answer 0=V)'

finish
