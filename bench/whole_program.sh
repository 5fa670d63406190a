#!/usr/bin/env bash
# The whole program against dd: a cursory test of a 2 GiB unit in the page
# cache, timed from the shell (start-up, drive preparation, sizing, the scan,
# the log and the exit), against `dd bs=256k` reading the same unit, in
# alternating rounds of one run. The program's own time is the difference;
# the target is at most 0.2 s (no service steps on a machine without the
# services). The full cursory test (with its seek scan, whose ~110,000 small
# reads dd does not make) is shown beside it.
#
#   bash bench/whole_program.sh [BUILD_DIR]
#
# Environment: BENCH_ROUNDS (default 7), BENCH_STRICT=1 (exit 1 on a miss).
set -u
BUILD=${1:-build}
CLI="$BUILD/bin/tolvarin-cli"
ROUNDS=${BENCH_ROUNDS:-7}
TARGET=0.2
[[ -x "$CLI" ]] || { echo "bench: $CLI is missing; build first" >&2; exit 1; }
[[ "$(stat -f -c %T /dev/shm 2>/dev/null)" == tmpfs ]] || { echo "bench: needs /dev/shm as a tmpfs (the page cache itself)" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/tolvarin-whole.XXXXXX") || exit 1
IMAGE=$(mktemp /dev/shm/tolvarin-whole.XXXXXX.img) || exit 1
trap 'rm -rf "$WORK" "$IMAGE"' EXIT
trap 'exit 130' INT TERM
dd if=/dev/zero of="$IMAGE" bs=1M count=2048 status=none || { echo "bench: no room for the image" >&2; exit 1; }
export TOLVARIN_HOME="$WORK/home"
mkdir -p "$TOLVARIN_HOME"

now() { date +%s.%N; }
elapsed() { # command... ; prints seconds
    local t0 t1
    t0=$(now)
    "$@" >/dev/null 2>&1 || { echo "bench: failed: $*" >&2; exit 1; }
    t1=$(now)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f\n", b - a }' 
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Warm-up: the image, the programs and their libraries in memory.
elapsed dd if="$IMAGE" of=/dev/null bs=256k >/dev/null
elapsed "$CLI" cursory "$IMAGE" --no-seek --yes >/dev/null
: >"$WORK/dd"; : >"$WORK/surface"; : >"$WORK/full"; : >"$WORK/diff"
for ((i = 1; i <= ROUNDS; i++)); do
    d=$(elapsed dd if="$IMAGE" of=/dev/null bs=256k)
    s=$(elapsed "$CLI" cursory "$IMAGE" --no-seek --yes)
    f=$(elapsed "$CLI" cursory "$IMAGE" --yes)
    echo "$d" >>"$WORK/dd"; echo "$s" >>"$WORK/surface"; echo "$f" >>"$WORK/full"
    awk -v a="$d" -v b="$s" 'BEGIN { printf "%.6f\n", b - a }' >>"$WORK/diff"
    printf 'round %d: dd %.3f s, cursory surface test %.3f s, full cursory test %.3f s\n' "$i" "$d" "$s" "$f"
done
D=$(median <"$WORK/dd"); S=$(median <"$WORK/surface"); F=$(median <"$WORK/full"); X=$(median <"$WORK/diff")
printf 'medians: dd %.3f s, cursory surface test %.3f s (own time %+.3f s, target <= %.1f s), full cursory test %.3f s\n' "$D" "$S" "$X" "$TARGET" "$F"
if awk -v x="$X" -v t="$TARGET" 'BEGIN { exit !(x > t) }'; then
    echo "whole program: MISSED the target"
    [[ "${BENCH_STRICT:-0}" == 1 ]] && exit 1
else
    echo "whole program: target met"
fi
