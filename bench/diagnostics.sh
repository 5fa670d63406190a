#!/usr/bin/env bash
# The diagnostics against plain loops (see bench/README.md): the memory
# test's copy-and-compare rate against memset + memcpy + memcmp over the same
# blocks, and the timed re-reads of findings (each after its reference read)
# against plain pread calls at the same offsets, in one run.
#
#   bash bench/diagnostics.sh [BUILD_DIR]
#
# Environment:
#   BENCH_ROUNDS     alternating rounds after the warm-up (default 7)
#   BENCH_BLOCKS     8 MiB blocks of the memory test (default 48)
#   BENCH_IMAGE_DIR  where the 1 GiB image goes (default /dev/shm when it is a
#                    tmpfs with room, else BUILD_DIR)
set -u

BUILD=$(cd "${1:-build}" && pwd) || exit 1
BENCH="$BUILD/bin/tolvarin-diag-bench"
ROUNDS=${BENCH_ROUNDS:-7}
BLOCKS=${BENCH_BLOCKS:-48}
if [[ ! -x "$BENCH" ]]; then
    echo "bench: $BENCH is missing; build first (cmake --build $BUILD --target tolvarin-diag-bench)" >&2
    exit 1
fi
if ! [[ "$ROUNDS" =~ ^[1-9][0-9]?$ && "$BLOCKS" =~ ^[1-9][0-9]{0,3}$ ]]; then
    echo "bench: BENCH_ROUNDS takes 1 to 99, BENCH_BLOCKS 1 to 9999" >&2
    exit 1
fi
free_kib() { df -Pk "$1" 2>/dev/null | awk 'NR == 2 { print $4 }'; }
DIR=${BENCH_IMAGE_DIR:-}
if [[ -z "$DIR" ]]; then
    DIR="$BUILD"
    if [[ "$(stat -f -c %T /dev/shm 2>/dev/null)" == tmpfs ]] &&
        (($(free_kib /dev/shm || echo 0) > 1310720)); then
        DIR=/dev/shm
    fi
fi
IMAGE=$(mktemp "$DIR/tolvarin-diag-bench.XXXXXX.img") || exit 1
trap 'rm -f "$IMAGE"' EXIT
# Every block allocated, so that reads cost the same everywhere.
dd if=/dev/zero of="$IMAGE" bs=1M count=1024 status=none || exit 1
"$BENCH" --device "$IMAGE" --rounds "$ROUNDS" --blocks "$BLOCKS"
