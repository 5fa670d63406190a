#!/usr/bin/env bash
# Diagnostics runs through tolvarin-cli that need no recorded findings: a
# unit without a history (messages 26 and 25), a history without findings
# (messages 28 and 27), the memory test on this machine's memory within its
# cap, and the interface test on mounted ext4 and vfat volumes of loop
# devices, including a link planted at the test file's path, a read-only
# volume and a full one (message 30).
#
# Usage: diagnostics_volumes.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/normal_lib.bash"
normal_setup "$@" 1

diagnose() { # diagnose NAME UNIT -- ARGS...: tolvarin-cli diagnostics UNIT
    local name=$1 unit=$2
    shift 2
    log="$work/$name.log"
    cli_lead=(diagnostics "$unit" --log "$log")
    run_cli "$name" "$@"
}
end_of() { json "$work/$1.out" 'd["end"]'; }

# --- no history ---------------------------------------------------------------------
diagnose nohistory sdz -- --yes --json
check "no history: exit status 3" equals "$status" 3
check "no history: message 26" asked nohistory 26
check "no history: not started" equals "$(json "$work/nohistory.out" 'd["result"]')" "refused"

# Message 25 "Continue": the memory test alone, on this machine's memory.
available=$(($(awk '/^MemAvailable:/ { print $2 }' /proc/meminfo) * 1024))
cap=$((4 << 30))
measure='import resource, subprocess, sys
status = subprocess.call(sys.argv[2:], stdin=subprocess.DEVNULL)
rss = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss * 1024
open(sys.argv[1], "w").write("%d" % rss)
sys.exit(status)'
python3 -c "$measure" "$work/memory.rss" "$cli" diagnostics sdz --log "$work/memory.log" --yes \
    --json --answer 25=1 --memory 2 </dev/null >"$work/memory.out" 2>"$work/memory.err"
status=$?
log="$work/memory.log"
check "memory: exit status 0" equals "$status" 0
check "memory: message 25" asked memory 25
check "memory: two passes" equals "$(json "$work/memory.out" 'd["memory"]["passesRun"]')" 2
check "memory: passes logged" has "$log" $'\tMemory test number 2 passed with no problems.'
check "memory: summary" has "$log" "Memory tests passed with no errors detected."
taken=$(json "$work/memory.out" 'd["memory"]["bytesTested"]')
check "memory: the amount logged" has "$log" "Memory taken for testing: $taken bytes"
check "memory: within the cap" test "$taken" -le "$cap"
check "memory: within three quarters of the available memory" \
    test "$taken" -le $((available * 3 / 4))
rss=$(cat "$work/memory.rss")
check "memory: the process stayed within what it took" test "$rss" -le $((taken + (256 << 20)))
check "memory: no analysis" lacks "$log" "Beginning evaluation of detected irregularities."

# --- a history without findings -------------------------------------------------------
run clean -- --yes --json --no-probe
check "clean normal test: exit status 0" equals "$status" 0
diagnose nofindings sdz -- --yes --json
check "no findings: message 28" asked nofindings 28
check "no findings: run ends" equals "$(end_of nofindings)" "noFindings"
check "no findings: nothing re-tested" lacks "$log" "Attempting to obtain reference sector."
diagnose declined sdz -- --yes --json --memory 1 --answer 27=0
check "declined: exit status 3" equals "$status" 3
check "declined: message 27" asked declined 27
check "declined: run ends" equals "$(end_of declined)" "findingsDeclined"
check "declined: no memory test" lacks "$log" "Performing memory and system bus tests."

# --- the interface test on loop devices -----------------------------------------------
if [ "$(id -u)" != 0 ] || ! command -v losetup >/dev/null || ! command -v sfdisk >/dev/null ||
    [ ! -e /dev/loop-control ]; then
    echo "skip interface tests: they need root, losetup, sfdisk and loop devices"
    finish
fi

# volume NAME FSTYPE: a loop device with one partition of FSTYPE, mounted at
# $work/NAME; sets part (its identifier) and mnt. Answers 1 when it cannot.
volume() {
    local name=$1 fstype=$2 loop node dev
    truncate -s 64M "$work/$name.img"
    loop=$(losetup --find --show --partscan "$work/$name.img" 2>/dev/null) || return 1
    cleanup_hooks+=("losetup -d '$loop' 2>/dev/null")
    printf 'label: dos\n,,83\n' | sfdisk -q "$loop" >/dev/null 2>&1 || return 1
    # Without udev the kernel may not have read the new table yet.
    partx -a "$loop" >/dev/null 2>&1
    part=$(basename "$loop")p1
    node=/dev/$part
    # Without udev the partition's node may be missing; make it from sysfs.
    for _ in 1 2 3 4 5; do
        [ -r "/sys/block/$(basename "$loop")/$part/dev" ] && break
        sleep 0.2
    done
    dev=$(cat "/sys/block/$(basename "$loop")/$part/dev" 2>/dev/null) || return 1
    if [ ! -b "$node" ] ||
        [ "$(printf '%d:%d' "0x$(stat -c %t "$node")" "0x$(stat -c %T "$node")")" != "$dev" ]; then
        rm -f "$node"
        mknod "$node" b "${dev%%:*}" "${dev##*:}" || return 1
        cleanup_hooks+=("rm -f '$node'")
    fi
    "mkfs.$fstype" "$node" >/dev/null 2>&1 || return 1
    mnt="$work/$name"
    mkdir -p "$mnt"
    mount "$node" "$mnt" 2>/dev/null || return 1
    # Hooks run in order: unmount before the loop device goes.
    cleanup_hooks=("umount '$mnt' 2>/dev/null" "${cleanup_hooks[@]}")
}

# The real disk tool lists the loop devices and says where a volume is mounted.
unset TOLVARIN_DEV_DIR TOLVARIN_DISKTOOL

for fs in ext4 vfat; do
    if ! command -v "mkfs.$fs" >/dev/null || ! volume "$fs" "$fs"; then
        echo "skip $fs volume: it could not be made"
        continue
    fi
    diagnose "$fs" "$part" -- --yes --json --no-analysis --interface 3
    check "$fs: exit status 0" equals "$status" 0
    check "$fs: three iterations" equals "$(json "$work/$fs.out" 'd["interface"]["iterationsRun"]')" 3
    check "$fs: passed" has "$log" $'\tInterface test number 3 passed with no problems.'
    check "$fs: summary" has "$log" "Interface tests passed with no errors detected."
    check "$fs: the test directory removed" test ! -e "$mnt/tmp"

    # A directory of the volume's own is left in place.
    mkdir "$mnt/tmp"
    touch "$mnt/tmp/keep"
    diagnose "$fs-tmp" "$part" -- --yes --json --no-analysis --interface 1
    check "$fs: with its own tmp" equals "$status" 0
    check "$fs: its tmp kept" test -e "$mnt/tmp/keep"
    check "$fs: no test file left" test ! -e "$mnt/tmp/TolvarinBufferTest.dat"
    rm -rf "$mnt/tmp"
done

if [ -n "${part:-}" ] && [ -d "$work/ext4" ] && mountpoint -q "$work/ext4"; then
    part=$(findmnt -n -o SOURCE "$work/ext4")
    part=$(basename "$part")
    mnt="$work/ext4"
    # A link planted at the test file's path, pointing outside the volume.
    echo "precious" >"$work/outside"
    mkdir "$mnt/tmp"
    ln -s "$work/outside" "$mnt/tmp/TolvarinBufferTest.dat"
    diagnose planted "$part" -- --yes --json --no-analysis --interface 2
    check "planted: exit status 3" equals "$status" 3
    check "planted: message 30" asked planted 30
    check "planted: the target untouched" equals "$(cat "$work/outside")" "precious"
    check "planted: the link left alone" test -L "$mnt/tmp/TolvarinBufferTest.dat"
    check "planted: the reason logged" has "$log" "Interface test file could not be created:"
    rm -rf "$mnt/tmp"

    # A full volume.
    dd if=/dev/zero of="$mnt/fill" bs=1M >/dev/null 2>&1
    sync
    diagnose full "$part" -- --yes --json --no-analysis --interface 2
    check "full: exit status 3" equals "$status" 3
    check "full: message 30" asked full 30
    check "full: nothing left behind" test ! -e "$mnt/tmp"
    rm -f "$mnt/fill"

    # A read-only volume.
    if mount -o remount,ro "$mnt" 2>/dev/null; then
        diagnose readonly "$part" -- --yes --json --no-analysis --interface 2
        check "read-only: exit status 3" equals "$status" 3
        check "read-only: message 30" asked readonly 30
        check "read-only: the end named" equals "$(end_of readonly)" "volumeNotWritable"
    fi
fi

finish
