#!/usr/bin/env bash
# The desktop program started by an ordinary user where nobody can grant it
# root's rights (no desktop session, no polkit agent, as in CI): it says so on
# standard error, ends with a non-zero status and writes nothing.
#
# Usage: gui_without_root.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/common_lib.bash"
e2e_setup "${1:-}" gui-without-root
gui="$build/bin/tolvarin"
if [ ! -x "$gui" ]; then
    echo "skip: $gui is not built"
    exit 77
fi

# Run as someone other than root.
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    if ! command -v setpriv >/dev/null; then
        echo "skip: setpriv is missing to run as an ordinary user"
        exit 77
    fi
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    if ! "${as_user[@]}" test -x "$gui"; then
        echo "skip: an ordinary user cannot run $gui here"
        exit 77
    fi
fi

place="$work/user"
mkdir -p "$place/home" "$place/config" "$place/cache" "$place/runtime"
chmod -R 0777 "$place"
chmod 0700 "$place/runtime"
[ "$(id -u)" -eq 0 ] && chown 65534:65534 "$place/runtime"

set +e
env -i PATH=/usr/bin:/bin HOME="$place/home" TOLVARIN_HOME="$place/home" \
    XDG_CONFIG_HOME="$place/config" XDG_CACHE_HOME="$place/cache" \
    XDG_RUNTIME_DIR="$place/runtime" QT_QPA_PLATFORM=offscreen \
    "${as_user[@]}" "$gui" </dev/null >"$work/out" 2>"$work/err"
status=$?

check "a non-zero exit status" test "$status" -ne 0
check "the reason on standard error" has "$work/err" "needs administrator (root) rights"
check "what to do instead" has "$work/err" "sudo"
check "nothing on standard output" test ! -s "$work/out"
check "nothing written" equals "$(find "$place" -mindepth 2 | wc -l)" 0
finish
