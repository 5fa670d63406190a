#!/usr/bin/env bash
# Volumes where udev keeps no database (containers, CI machines): a GPT loop
# device with nine partitions (LUKS, Btrfs, LVM member, swap, exFAT, NTFS, XFS,
# ext4 with an accented label, and one holding nothing) is listed by
# tolvarin-cli with every volume and its type, read from the devices
# themselves, and a volume can be tested by its identifier.
#
# Usage: list_partitions.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/common_lib.bash"
e2e_setup "${1:-}" partitions
unset TOLVARIN_DISKTOOL TOLVARIN_DEV_DIR TOLVARIN_CONSOLE

if [ "$(id -u)" -ne 0 ]; then
    echo "skip: loop devices need root"
    exit 77
fi
for tool in losetup partx sfdisk cryptsetup mkfs.btrfs pvcreate mkswap mkfs.exfat mkntfs \
    mkfs.xfs mkfs.ext4 blkid; do
    if ! command -v "$tool" >/dev/null; then
        echo "skip: $tool is missing (scripts/install-deps.sh installs it)"
        exit 77
    fi
done

image="$work/disk.img"
truncate -s 700M "$image"
sfdisk -q "$image" <<'LAYOUT' || { echo "FAIL sfdisk"; exit 1; }
label: gpt
size=32MiB, type=CA7D7CCB-63ED-4C53-861C-1742536059CC, name=luks
size=128MiB, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4, name=btrfs
size=16MiB, type=E6D6D379-F507-44C2-A23C-238F2A3DF928, name=lvm
size=16MiB, type=0657FD6D-A4AB-43C4-84E5-0933C84B4F4F, name=swap
size=16MiB, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, name=exfat
size=16MiB, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, name=ntfs
size=320MiB, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4, name=xfs
size=32MiB, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4, name=ext4
size=8MiB, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4, name=blank
LAYOUT
if ! loop=$(losetup -f --show "$image" 2>"$work/losetup.err"); then
    echo "skip: no loop device: $(cat "$work/losetup.err")"
    exit 77
fi
# Detached even when a check fails; the kernel forgets the Btrfs member too.
cleanup_hooks+=("command -v btrfs >/dev/null && btrfs device scan --forget ${loop}p2 >/dev/null 2>&1
    partx -d $loop >/dev/null 2>&1; losetup -d $loop")
partx -a "$loop" 2>/dev/null
for n in 1 2 3 4 5 6 7 8 9; do
    if [ ! -b "${loop}p$n" ]; then
        echo "skip: no node ${loop}p$n for the partition (no devtmpfs?)"
        exit 77
    fi
done

made() { # made NAME COMMAND...: runs a mkfs tool, its output kept for a failure
    if ! "${@:2}" >"$work/mkfs-$1.out" 2>&1; then
        echo "FAIL mkfs $1: $(tail -3 "$work/mkfs-$1.out")"
        exit 1
    fi
}
made luks sh -c "printf pw | cryptsetup luksFormat -q --type luks2 --pbkdf pbkdf2 \
    --pbkdf-force-iterations 1000 ${loop}p1 -"
made btrfs mkfs.btrfs -q -f "${loop}p2"
made lvm pvcreate -q --config 'devices { obtain_device_list_from_udev=0 hints="none" }
    activation { udev_sync=0 udev_rules=0 }' "${loop}p3"
made swap mkswap -q "${loop}p4"
made exfat mkfs.exfat -L EXF "${loop}p5"
made ntfs mkntfs -q -F -f -L NTF "${loop}p6"
made xfs mkfs.xfs -q -f "${loop}p7"
made ext4 mkfs.ext4 -q -F -L "Données" "${loop}p8"

run_cli list -- list
check "list: exit status 0" equals "$status" 0
id=${loop#/dev/}
row() { grep "^  ${id}p$1 " "$work/list.out"; } # row N: the volume's row of the table
volume() { # volume N WORD...: the row of partition N names every WORD
    local line word
    line=$(row "$1") || {
        echo "     no row for ${id}p$1"
        return 1
    }
    for word in "${@:2}"; do
        case "$line" in
        *"$word"*) ;;
        *)
            echo "     ${id}p$1: '$word' missing from: $line"
            return 1
            ;;
        esac
    done
}
check "list: the disk and its GUID scheme" grep -q "^$id .*GUID Partition Scheme" "$work/list.out"
check "list: LUKS container" volume 1 "Encrypted Volume (LUKS)" crypto_LUKS
check "list: Btrfs" volume 2 "Linux Volume" btrfs
check "list: LVM member" volume 3 "LVM Physical Volume" LVM2_member
check "list: swap" volume 4 "Linux Swap" swap
check "list: exFAT" volume 5 "Microsoft Windows/DOS Volume" ExFAT EXF
check "list: NTFS" volume 6 "Microsoft Windows/DOS Volume" NTFS NTF
check "list: XFS" volume 7 "Linux Volume" xfs
check "list: ext4 with its accented label" volume 8 "Linux Volume" ext4 "Données"
# Partition 9's FILE SYSTEM column names none: "-", or "Generic", the drive
# list's word for a field the disk tool did not report.
no_file_system() {
    local header line fs
    header=$(head -1 "$work/list.out")
    header=${header%%FILE SYSTEM*}
    line=$(row 9) || return 1
    fs=$(echo "${line:${#header}}" | awk '{ print $1 }')
    [ "$fs" = "-" ] || [ "$fs" = Generic ] || {
        echo "     file system of ${id}p9: $fs"
        false
    }
}
check "list: a partition holding nothing is a volume without a file system" no_file_system

# The volume by its identifier: a cursory test of the ext4 partition.
run_cli volume -- cursory "${id}p8" --no-seek --yes --log "$work/volume.log"
check "volume: exit status 0" equals "$status" 0
check "volume: the log names the volume" \
    has "$work/volume.log" "The device under test is a volume named: Données"
check "volume: and its node" has "$work/volume.log" "Raw device designation: ${loop}p8"
check "volume: its UUID" has "$work/volume.log" " UUID: $(blkid -p -s UUID -o value "${loop}p8")"

finish
