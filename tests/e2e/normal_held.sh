#!/usr/bin/env bash
# A normal test held at a read of its unit (the fault library's stall), and
# what others do meanwhile: "forget" of the unit is refused and touches
# nothing; the unit, a loop device, is detached and its image removed (the
# kernel keeps a device it has open until it is closed, so the test reads
# on and ends as usual, its files whole). And an ordinary user whose data
# folder is read-only is refused with exit 3, the final line and the JSON.
#
# Usage: normal_held.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/normal_lib.bash"
normal_setup "${1:-}" 1
need_faultlib

run first -- --yes --answer 8=0
check "first: exit status 0" equals "$status" 0

# held NAME PLAN-TARGET: starts a normal test whose read at 650 MiB is held
# for three seconds; returns once the read is held (pid in $pid).
held() {
    local name=$1 target=$2 at=$((650 * 1048576))
    rm -f "$work/held"
    printf '%s\n' "target $target" "stall $at $((at + 4096)) 3000000 held" >"$work/$name.plan"
    log="$work/$name.log"
    LD_PRELOAD="$faultlib" TOLVARIN_FAULT_PLAN="$work/$name.plan" \
        "$cli" normal sdz --log "$log" --yes --answer 8=0 --json \
        </dev/null >"$work/$name.out" 2>"$work/$name.err" &
    pid=$!
    for _ in $(seq 300); do
        [ -e "$work/held" ] && return 0
        sleep 0.1
    done
    return 1
}

# --- forget while a test holds the unit -------------------------------------------
check "forget: the test is held at its read" held busy "$image"
snapshot "$work/before"
cli_lead=(forget sdz)
run_cli forget -- --yes --json
check "forget: refused with exit 3" equals "$status" 3
check "forget: says the unit is in use" has "$work/forget.err" "Another test is using the data files"
check "forget: json result" equals "$(json "$work/forget.out" 'd["result"]')" refused
check "forget: nothing touched" same_files "$work/before"
wait "$pid"
check "forget: the held test still passes" equals "$?" 0
check "forget: the unit is still known" test -e "$data/$(prefix).hdr"

# --- the loop device under test detached mid-test ----------------------------------
if [ "$(id -u)" != 0 ] || ! command -v losetup >/dev/null; then
    echo "skip detached loop device: needs root and losetup"
elif ! loop=$(losetup -f --show "$image" 2>/dev/null); then
    echo "skip detached loop device: no loop device can be set up here"
else
    # Only while it is still ours: once detached its number may serve another.
    cleanup_hooks+=("[ \"\$(losetup -n -O BACK-FILE '$loop' 2>/dev/null)\" = '$image' ] &&
        losetup -d '$loop'")
    # The recorded disk "sdz" is the loop device now.
    rm -f "$work/dev/sdz"
    ln -s "$loop" "$work/dev/sdz"
    check "detached: the test is held at its read" held detached "$loop"
    losetup -d "$loop"
    rm -f "$image"
    wait "$pid"
    status=$?
    check "detached: the test reads on and passes (exit 0)" equals "$status" 0
    check "detached: no error counted" \
        equals "$(json "$work/detached.out" 'd["counts"]["totalErrors"]')" 0
    check "detached: folded once more" equals "$(sample_size .ssa)" 3
    # The kernel lets the device go once the test has closed it.
    for _ in $(seq 20); do
        [ "$(losetup -n -O BACK-FILE "$loop" 2>/dev/null)" != "$image (deleted)" ] && break
        sleep 0.1
    done
    check "detached: the device went with the test" \
        test "$(losetup -n -O BACK-FILE "$loop" 2>/dev/null)" != "$image (deleted)"
fi

# --- an ordinary user whose data folder is read-only -------------------------------
if [ "$(id -u)" != 0 ] || ! command -v setpriv >/dev/null || ! id nobody >/dev/null 2>&1; then
    echo "skip read-only data folder: needs root to run as nobody"
else
    truncate -s "$size" "$work/user.img"
    rm -f "$work/dev/sdz"
    ln -s "$work/user.img" "$work/dev/sdz"
    chmod 755 "$work" "$work/dev"
    chmod 644 "$work/user.img"
    chown -R nobody "$home"
    chmod -R a-w "$data"
    mkdir -m 777 "$work/logs"
    before=$(find "$data" | sort | md5sum)
    setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups \
        "$cli" normal sdz --log "$work/logs/user.log" --yes --json \
        </dev/null >"$work/user.out" 2>"$work/user.err"
    status=$?
    check "read-only: exit status 3" equals "$status" 3
    check "read-only: the final line" grep -q "^tolvarin-cli: no test was run: " "$work/user.err"
    check "read-only: json result refused" equals "$(json "$work/user.out" 'd["result"]')" refused
    check "read-only: json problem" equals "$(json "$work/user.out" 'd["problem"] is not None')" True
    check "read-only: no log announced" lacks "$work/user.err" "Log file:"
    check "read-only: json log null" equals "$(json "$work/user.out" 'd["log"]')" None
    check "read-only: the data folder untouched" equals "$(find "$data" | sort | md5sum)" "$before"
    chmod -R u+w "$data"
fi

finish
