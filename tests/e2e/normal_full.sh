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

finish
