#!/usr/bin/env bash
# The data folder's disk fills during a normal test (a small tmpfs, topped up
# to leave only a little room). Whatever write fails, the unit is left
# exactly as it was before the test (every file byte for byte), no partial
# backup remains, the run says so (exit 3) and the next test with room
# passes.
#
# Usage: normal_full.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/normal_lib.bash"
normal_setup "${1:-}" 1
if [ "$(id -u)" != 0 ] || ! command -v mount >/dev/null; then
    echo "skip: mounting a tmpfs needs root"
    exit 77
fi
mkdir -p "$data"
if ! mount -t tmpfs -o size=4M tmpfs "$data" 2>/dev/null; then
    echo "skip: no tmpfs can be mounted here"
    exit 77
fi
cleanup_hooks+=("umount '$data'")

run first -- --yes --answer 8=0
check "first: exit status 0" equals "$status" 0

for room in 0 2 8 24 40 64 100 160; do
    snapshot "$work/before"
    # Fill the disk, then free room KiB.
    dd if=/dev/zero of="$data/filler" bs=4k 2>/dev/null
    [ "$room" -gt 0 ] && truncate -s "-${room}K" "$data/filler"
    run "full-$room" -- --yes --answer 8=0 --json
    rm -f "$data/filler"
    if [ "$status" = 0 ]; then
        pass "room $room KiB: enough for the test"
        continue
    fi
    check "room $room KiB: exit status 3" equals "$status" 3
    check "room $room KiB: the unit's files as before the test" same_files "$work/before"
    check "room $room KiB: no backup left" equals "$(backups)" 0
    check "room $room KiB: no temporary file left" \
        test -z "$(find "$data" -name '.*' ! -name '*.lock')"
done

run last -- --yes --answer 8=0
check "with room again: exit status 0" equals "$status" 0

# --- the roll-back cannot finish either ----------------------------------------------
# While the surface scan is held at a read, the disk is filled and a folder
# is planted where the surface average belongs: the fold fails, the backup
# of the average cannot be moved back, and the log is cut. The run says how
# the files stand and what the next start does; that start finishes the
# roll-back once the folder is gone.
if [ -n "$faultlib" ]; then
    p=$(prefix)
    sample=$(sample_size .ssa)
    plan="$work/stall.plan"
    stall=$((650 * 1048576))
    # The log cannot grow past 2,500 bytes (a full disk leaves it the slack of
    # its last page, so the disk alone would cut it at no fixed place).
    log="$work/cut.log"
    write_plan "$plan" "target $log" "stall $stall $((stall + 4096)) 3000000 stalled" \
        "writefail 2500 1G"
    LD_PRELOAD="$faultlib" TOLVARIN_FAULT_PLAN="$plan" \
        "$cli" normal sdz --log "$log" --yes --answer 8=0 --json \
        </dev/null >"$work/cut.out" 2>"$work/cut.err" &
    pid=$!
    stalled=no
    for _ in $(seq 200); do
        [ -e "$work/stalled" ] && stalled=yes && break
        sleep 0.1
    done
    rm -f "$data/$p.ssa"
    mkdir "$data/$p.ssa" && : >"$data/$p.ssa/planted"
    dd if=/dev/zero of="$data/filler" bs=4k 2>/dev/null
    wait "$pid"
    status=$?
    rm -f "$data/filler"
    check "cut: the surface scan was held" equals "$stalled" yes
    check "cut: exit status 3" equals "$status" 3
    problem=$(json "$work/cut.out" 'd["problem"]')
    check "cut: not undone, said so" has <(echo "$problem") "the test could not be undone"
    check "cut: the average named as no file" has <(echo "$problem") "not a file: .ssa"
    check "cut: the next start is named" has <(echo "$problem") "first finishes returning the files"
    check "cut: the terminal tells it" has "$work/cut.err" "not all back as they were"
    check "cut: the terminal says the log was cut" has "$work/cut.err" "was cut, its end is missing"
    check "cut: json logProblem" equals "$(json "$work/cut.out" 'd["logProblem"] is not None')" True
    check "cut: the log has no end" lacks "$log" "ALL TESTS ON THIS UNIT ARE NOW COMPLETE"

    run refused -- --yes --answer 8=0 --json
    check "folder still there: exit status 3" equals "$status" 3
    check "folder still there: the problem says how the files stand" \
        has "$work/refused.err" "not a file: .ssa"
    check "folder still there: a roll-back cut short" has "$work/refused.err" "a roll-back cut short"

    rm -r "$data/$p.ssa"
    rm -f "$log"
    run after -- --yes --answer 8=0
    check "folder gone: exit status 0" equals "$status" 0
    check "folder gone: the roll-back was finished" has "$log" "returned to their state before"
    check "folder gone: the failed test's fold undone" equals "$(sample_size .ssa)" "$((sample + 1))"
    check "folder gone: no backup left" equals "$(backups)" 0
else
    echo "skip: the roll-back that cannot finish needs the fault library"
fi

finish
