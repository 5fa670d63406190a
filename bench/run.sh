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
#   BENCH_ROUNDS     alternating rounds after the warm-up (default 7)
#   BENCH_IMAGE_DIR  where the image goes (default /dev/shm when it is a tmpfs
#                    with room, else BUILD_DIR)
#   BENCH_STRICT=1   exit 1 when the surface scan misses its target
set -u

BUILD=${1:-build}
BENCH="$BUILD/bin/tolvarin-bench"
SECTIONS=${BENCH_SECTIONS:-3}
ROUNDS=${BENCH_ROUNDS:-7}
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
free_kib() { df -Pk "$1" 2>/dev/null | awk 'NR == 2 { print $4 }'; }

DIR=${BENCH_IMAGE_DIR:-}
if [[ -z "$DIR" ]]; then
    if [[ "$(stat -f -c %T /dev/shm 2>/dev/null)" == tmpfs ]] &&
        (($(free_kib /dev/shm || echo 0) > NEED_KIB)); then
        DIR=/dev/shm
    else
        DIR="$BUILD"
    fi
fi
if (($(free_kib "$DIR" || echo 0) <= NEED_KIB)); then
    echo "bench: $DIR has no room for a $IMAGE_MIB MiB image; set BENCH_IMAGE_DIR or BENCH_SECTIONS" >&2
    exit 1
fi

IMAGE=""
LOOP=""
OUT=$(mktemp "${TMPDIR:-/tmp}/tolvarin-bench-out.XXXXXX") || exit 1
cleanup() {
    if [[ -n "$LOOP" ]]; then
        losetup -d "$LOOP" || echo "bench: could not detach $LOOP" >&2
    fi
    [[ -n "$IMAGE" ]] && rm -f "$IMAGE"
    rm -f "$OUT"
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

status=0
run() { # label, unit
    echo
    echo "== $1"
    "${PRIORITY[@]}" "$BENCH" --rounds "$ROUNDS" --label "$1" "$2" | tee -a "$OUT"
    local rc=${PIPESTATUS[0]}
    if ((rc == 1 || rc > 2)); then
        status=1
    elif ((rc == 2)) && [[ "${BENCH_STRICT:-0}" == 1 ]]; then
        status=1
    fi
}

run "(a) image file on $FSTYPE" "$IMAGE"

echo
if [[ $(id -u) -ne 0 ]]; then
    echo "== (b) loop device with direct I/O: skipped (needs root)" | tee -a "$OUT"
elif ! command -v losetup >/dev/null || [[ ! -e /dev/loop-control ]]; then
    echo "== (b) loop device with direct I/O: skipped (no losetup or no loop devices)" | tee -a "$OUT"
elif ! LOOP=$(losetup --direct-io=on --find --show "$IMAGE"); then
    LOOP=""
    echo "== (b) loop device with direct I/O: skipped (losetup could not attach the image)" | tee -a "$OUT"
else
    DIO=$(cat "/sys/block/$(basename "$LOOP")/loop/dio" 2>/dev/null || echo "?")
    if [[ "$DIO" == 1 ]]; then
        run "(b) loop device $LOOP, direct I/O on" "$LOOP"
    else
        run "(b) loop device $LOOP, direct I/O REFUSED by the kernel (dio=$DIO)" "$LOOP"
    fi
fi

echo
echo "== summary"
grep -E '^(RESULT|== \(b\))' "$OUT"
exit $status
