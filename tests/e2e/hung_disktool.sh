#!/usr/bin/env bash
# Disk tools that hang or print garbage must not hang tolvarin-cli nor make up
# units: a tool that sleeps, one that prints a line and then sleeps, one that
# ends but leaves a child holding its output, and one whose listing is cut.
# The time limit of every tool is made tiny (TOLVARIN_TOOL_TIME_LIMIT_MS) so
# that the hanging ones cost a fraction of a second each.
#
# Usage: hung_disktool.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/normal_lib.bash"
normal_setup "${1:-}" 1
if ! command -v timeout >/dev/null; then
    echo "skip: timeout is missing"
    exit 77
fi
mv "$work/disktool" "$work/good-disktool"

# tool NAME BODY: a disk tool whose "list" and "info" run BODY; "$good" is the
# well-behaved tool.
tool() {
    printf '#!/bin/sh\ngood=%q\n%s\n' "$work/good-disktool" "$2" >"$work/$1"
    chmod +x "$work/$1"
}
tool sleeps 'exec sleep 60.0417'
tool line-then-sleeps 'echo /dev/sdz; exec sleep 60.0417'
tool leaves-child '(sleep 60.0417; echo late) & exec "$good" "$@"'
tool info-hangs 'case "$1" in info) echo "   Device Identifier:        sdz"; exec sleep 60.0417 ;; esac
exec "$good" "$@"'
tool cut-listing 'case "$1" in list) "$good" list | sed "s/  sdz\$/   dz/" ;; *) exec "$good" "$@" ;; esac'

# list_with NAME TOOL LIMIT_MS: tolvarin-cli list with the tool, under a guard
# that turns a hang into status 124.
list_with() {
    TOLVARIN_DISKTOOL="$work/$2" TOLVARIN_TOOL_TIME_LIMIT_MS=$3 \
        timeout 60 "$cli" list </dev/null >"$work/$1.out" 2>"$work/$1.err"
    status=$?
}

for name in sleeps line-then-sleeps; do
    list_with "$name" "$name" 100
    check "list, tool $name: ends with exit status 3" equals "$status" 3
    check "list, tool $name: says the tool was stopped" has "$work/$name.err" "did not finish within 0.1 s"
    check "list, tool $name: no rows" test ! -s "$work/$name.out"
done

list_with cut cut-listing 10000
check "list, cut listing: exit status 3" equals "$status" 3
check "list, cut listing: no made-up row" test ! -s "$work/cut.out"

# Ending on its own, the tool is not waited for until its limit.
list_with leftover leaves-child 600000
check "list, tool leaves a child: exit status 0" equals "$status" 0
check "list, tool leaves a child: the disk is listed" grep -q '^sdz ' "$work/leftover.out"
check "list, tool leaves a child: nothing late read" lacks "$work/leftover.out" "late"
check "list: standard output holds only the table" \
    equals "$(head -1 "$work/leftover.out" | cut -c1-10)" "IDENTIFIER"
check "list: the release line went to standard error" \
    has "$work/leftover.err" "Unitprobe reports OS release as: UNKNOWN"

# A normal test goes through with a tool whose reports hang (the drive list
# and the S.M.A.R.T. watch ask for them) and with one that leaves children.
for name in info-hangs leaves-child; do
    export TOLVARIN_DISKTOOL="$work/$name" TOLVARIN_TOOL_TIME_LIMIT_MS=200
    log="$work/$name.log"
    LD_PRELOAD= timeout 300 "$cli" normal sdz --log "$log" --yes --answer 8=0 </dev/null \
        >"$work/normal-$name.out" 2>"$work/normal-$name.err"
    status=$?
    check "normal, tool $name: the test ran to its end" equals "$status" 0
done
# An image file needs no disk tool, but the drive list is made all the same.
export TOLVARIN_DISKTOOL="$work/sleeps" TOLVARIN_TOOL_TIME_LIMIT_MS=100
truncate -s 64M "$work/small.img"
timeout 300 "$cli" normal "$work/small.img" --log "$work/image.log" --yes --answer 8=0 \
    </dev/null >"$work/normal-image.out" 2>"$work/normal-image.err"
status=$?
check "normal of an image, tool sleeps: the test ran to its end" equals "$status" 0
unset TOLVARIN_TOOL_TIME_LIMIT_MS

# No stray tool is left running.
check "no disk tool left behind" test -z "$(pgrep -f "$work/|sleep 60\.0417" || true)"

finish
