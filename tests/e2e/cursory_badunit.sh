#!/usr/bin/env bash
# Units tolvarin-cli cannot test: a missing path, a directory, an empty file,
# an unknown identifier and a device or image the user may not read. Each
# gives a clear error and exit status 2 or 3, and writes no data file.
#
# Usage: cursory_badunit.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/cursory_lib.bash"
cursory_setup "$@"

documents_empty() { [ -z "$(ls -A "$home/Documents" 2>/dev/null)" ]; }

mkdir "$work/folder"
: >"$work/empty.img"

run missing -- cursory "$work/missing.img" --yes
check "missing: exit status 2" equals "$status" 2
check "missing: says so" has "$work/missing.err" "missing.img: no such device or image file"

run folder -- cursory "$work/folder" --yes
check "directory: exit status 2" equals "$status" 2
check "directory: says so" has "$work/folder.err" "is a directory"

run empty -- cursory "$work/empty.img" --yes
check "empty file: exit status 2" equals "$status" 2
check "empty file: says so" has "$work/empty.err" "is an empty file"

run unknown -- cursory nosuchdisk --yes
check "unknown identifier: exit status 2" equals "$status" 2
check "unknown identifier: says so" has "$work/unknown.err" "unknown unit 'nosuchdisk'"

# Neither a block device nor an image file: refused before anything is
# opened (a guard turns a scan of /dev/zero, which never ends, into 124).
mkfifo "$work/fifo"
for unit in /dev/zero /dev/null "$work/fifo"; do
    name=$(basename "$unit")
    timeout 60 "$cli" cursory "$unit" --yes </dev/null >"$work/$name.out" 2>"$work/$name.err"
    status=$?
    check "$name: exit status 2" equals "$status" 2
done
check "character device: says so" has "$work/zero.err" "/dev/zero is a character device"
check "FIFO: says so" has "$work/fifo.err" "fifo is neither a block device nor an image file"
# The same through an identifier whose node is a character device.
mkdir "$work/dev"
ln -s /dev/zero "$work/dev/sdz"
cat >"$work/zerotool" <<'EOF'
#!/bin/sh
[ "$1" = list ] && printf '%s\n' '/dev/sdz' \
    '   #:                       TYPE NAME                         SIZE  IDENTIFIER' \
    '   0:                                                    *500.1 GB  sdz'
exit 0
EOF
chmod +x "$work/zerotool"
TOLVARIN_DEV_DIR="$work/dev" TOLVARIN_DISKTOOL="$work/zerotool" timeout 60 "$cli" cursory sdz \
    --yes </dev/null >"$work/zero-id.out" 2>"$work/zero-id.err"
status=$?
check "identifier of a character device: exit status 2" equals "$status" 2
check "identifier of a character device: says so" has "$work/zero-id.err" "is a character device"

run usage -- cursory "$work/empty.img" --limit 5 2
check "bad option: exit status 2" equals "$status" 2

check "nothing written for input refused at once" documents_empty
check "no data files" no_data_files

# Reading without the rights to: the engine's open fails, message 1000.
image="$work/private.img"
sparse_image "$image" $((64 * 1048576))
chmod 000 "$image"
as_user=()
if [ "$(id -u)" = 0 ]; then
    if command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
        as_user=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
        # nobody's own folders for the run: the log still has a place.
        chmod 777 "$work" "$home" "$home/.config" "$home/.config/Tolvarin"
        chmod 644 "$home/.config/Tolvarin/Tolvarin.conf"
    fi
fi
if [ "$(id -u)" = 0 ] && [ ${#as_user[@]} -eq 0 ]; then
    echo "skip unreadable unit: no way to run as another user"
else
    "${as_user[@]}" "$cli" cursory "$image" --yes </dev/null >"$work/private.out" \
        2>"$work/private.err"
    status=$?
    check "unreadable: exit status 3" equals "$status" 3
    check "unreadable: message 1000" has "$work/private.err" "=== Message 1000: ERROR 1000: Sizing Scan Failed. ==="
    check "unreadable: the reason" has "$work/private.err" "could not be opened or read"
    check "unreadable: the hint" has "$work/private.err" "needs more rights"
    check "unreadable: no data files" no_data_files
fi

finish
