#!/usr/bin/env bash
# Runs the scan benchmarks (see bench/README.md): the surface scan's read
# rate and the seek scan's time per pair against plain loops, (a) on an image
# file in the page cache and (b) on a loop device with direct I/O over that
# image (root only).
#
#   bash bench/run.sh [BUILD_DIR]        (make bench does this)
#
# Environment:
#   BENCH_SECTIONS   scan sections of 1,048,576,000 bytes in the image (default 3)
#   BENCH_ROUNDS     alternating rounds after the warm-up (default 15)
#   BENCH_IMAGE_DIR  where the image goes (default /dev/shm when it is a tmpfs
#                    with room, else BUILD_DIR)
#   BENCH_STRICT=1   exit 1 when the surface scan misses its target
set -u

BUILD=${1:-build}
BENCH="$BUILD/bin/tolvarin-bench"
SECTIONS=${BENCH_SECTIONS:-3}
ROUNDS=${BENCH_ROUNDS:-15}
SECTION_MIB=1000 # 1,048,576,000 bytes

if [[ ! -x "$BENCH" ]]; then
    echo "bench: $BENCH is missing; build first (make bench, or cmake --build $BUILD --target tolvarin-bench)" >&2
    exit 1
fi
if ! [[ "$SECTIONS" =~ ^[1-9][0-9]?$ && "$ROUNDS" =~ ^[1-9][0-9]?$ ]]; then
    echo "bench: BENCH_SECTIONS and BENCH_ROUNDS take 1 to 99" >&2
    exit 1
fi

IMAGE_MIB=$((SECTIONS * SECTION_MIB))
NEED_KIB=$(((IMAGE_MIB + 256) * 1024))
free_kib() { # free KiB in directory $1, 0 when unknown
    local kib
    kib=$(df -Pk "$1" 2>/dev/null | awk 'NR == 2 { print $4 }')
    echo "${kib:-0}"
}

DIR=${BENCH_IMAGE_DIR:-}
if [[ -z "$DIR" ]]; then
    if [[ "$(stat -f -c %T /dev/shm 2>/dev/null)" == tmpfs ]] &&
        (($(free_kib /dev/shm) > NEED_KIB)); then
        DIR=/dev/shm
    else
        DIR="$BUILD"
    fi
fi
if [[ ! -d "$DIR" || ! -w "$DIR" ]]; then
    echo "bench: $DIR is not a writable directory" >&2
    exit 1
fi
if (($(free_kib "$DIR") <= NEED_KIB)); then
    echo "bench: $DIR has no room for a $IMAGE_MIB MiB image; set BENCH_IMAGE_DIR or BENCH_SECTIONS" >&2
    exit 1
fi

IMAGE=""
LOOP=""
CHILD=""
# The summary and the benchmark's own work directories (its scans' logs),
# removed at the end even when the benchmark is stopped half-way.
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tolvarin-bench-run.XXXXXX") || exit 1
RESULTS="$WORK/results"
KEEP_WORK=0
# shellcheck disable=SC2317 # run by the traps
cleanup() {
    # A benchmark still reading the loop device would keep it busy.
    if [[ -n "$CHILD" ]]; then
        kill "$CHILD" 2>/dev/null
        wait "$CHILD" 2>/dev/null
    fi
    if [[ -n "$LOOP" ]]; then
        losetup -d "$LOOP" || echo "bench: could not detach $LOOP" >&2
    fi
    [[ -n "$IMAGE" ]] && rm -f "$IMAGE"
    if [[ "$KEEP_WORK" == 1 ]]; then
        echo "bench: the failed run's logs stay in $WORK" >&2
    else
        rm -rf "$WORK"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

IMAGE=$(mktemp "$DIR/tolvarin-bench.XXXXXX.img") || exit 1
FSTYPE=$(stat -f -c %T "$DIR")
echo "bench: image $IMAGE: $SECTIONS sections, $IMAGE_MIB MiB, filled (zeros written, every block allocated) on $FSTYPE"
if ! dd if=/dev/zero of="$IMAGE" bs=1M count="$IMAGE_MIB" conv=fsync status=none; then
    echo "bench: could not write the image" >&2
    exit 1
fi
if [[ "$FSTYPE" != tmpfs ]]; then
    echo "bench: note: on $FSTYPE the engine's O_DIRECT reads go to the disk, not the page cache"
fi

# The application raises its priority to -15 for a test; the benchmark runs
# the same way where it may, which also keeps other work on the machine from
# deciding the figures.
PRIORITY=()
if [[ $(id -u) -eq 0 ]]; then
    PRIORITY=(nice -n -15)
fi

# A line for the screen and for the summary.
note() {
    echo "$1"
    echo "$1" >>"$RESULTS"
}

status=0
run() { # label, unit
    echo
    echo "== $1"
    # In the background and waited for, so that a signal to this script
    # reaches the traps at once (and they stop the benchmark).
    TMPDIR="$WORK" "${PRIORITY[@]}" "$BENCH" --rounds "$ROUNDS" --results "$RESULTS" --label "$1" "$2" &
    CHILD=$!
    wait "$CHILD"
    local rc=$?
    CHILD=""
    if ((rc == 1 || rc > 2)); then
        status=1
    elif ((rc == 2)) && [[ "${BENCH_STRICT:-0}" == 1 ]]; then
        status=1
    fi
}

run "(a) image file on $FSTYPE" "$IMAGE"

echo
if [[ $(id -u) -ne 0 ]]; then
    note "== (b) loop device with direct I/O: skipped (needs root)"
elif ! command -v losetup >/dev/null || [[ ! -e /dev/loop-control ]]; then
    note "== (b) loop device with direct I/O: skipped (no losetup or no loop devices)"
elif ! LOOP=$(losetup --direct-io=on --find --show "$IMAGE"); then
    LOOP=""
    note "== (b) loop device with direct I/O: skipped (losetup could not attach the image)"
else
    DIO=$(cat "/sys/block/$(basename "$LOOP")/loop/dio" 2>/dev/null || echo "?")
    if [[ "$DIO" == 1 ]]; then
        run "(b) loop device $LOOP, direct I/O on" "$LOOP"
    else
        run "(b) loop device $LOOP, direct I/O REFUSED by the kernel (dio=$DIO)" "$LOOP"
    fi
fi

echo
echo "== whole program against dd"
if bash "$(dirname "$0")/whole_program.sh" "$BUILD" | tee "$WORK/whole"; then
    tail -2 "$WORK/whole" >>"$RESULTS"
else
    note "== whole program: FAILED: the benchmark did not run"
    status=1
fi

echo
echo "== summary"
cat "$RESULTS"
if ((status == 1)) && grep -q 'FAILED:' "$RESULTS"; then
    KEEP_WORK=1
fi
exit $status
