#!/usr/bin/env bash
# The queued cursory surface scan against fio and dd: a loop device with
# direct I/O over a 2 GiB image, read by `tolvarin-cli cursory --no-seek
# --queue-depth N` at depths 1, 4, 8 and 16, by `fio --ioengine=io_uring` at
# the same depths and block size (262,144 bytes), and by `dd bs=256k
# iflag=direct` (depth 1), in alternating rounds of one run. The scan's rate
# is the unit's size over its surface scan time (--json); the medians of the
# rates and of the rounds' ratios are printed. Targets: at least 95% of fio's rate at every
# depth, and at the best depth at least 1.3 times dd's rate. Root only.
#
#   bash bench/queued_scan.sh [BUILD_DIR]
#
# Environment: BENCH_ROUNDS (default 5), BENCH_IMAGE_DIR (default BUILD_DIR),
# BENCH_STRICT=1 (exit 1 on a miss).
set -u
BUILD=${1:-build}
CLI="$BUILD/bin/tolvarin-cli"
ROUNDS=${BENCH_ROUNDS:-5}
DEPTHS=(1 4 8 16)
SIZE=$((2048 * 1048576))
[[ -x "$CLI" ]] || { echo "bench: $CLI is missing; build first" >&2; exit 1; }
[[ $(id -u) -eq 0 ]] || { echo "bench: needs root for a loop device; skipped"; exit 0; }
command -v fio >/dev/null || { echo "bench: fio is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }

# On the disk, not in memory: the loop device's direct reads then reach a
# device that serves several reads at once.
DIR=${BENCH_IMAGE_DIR:-$BUILD}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tolvarin-queued.XXXXXX") || exit 1
IMAGE=$(mktemp "$DIR/tolvarin-queued.XXXXXX.img") || exit 1
LOOP=
cleanup() {
    [[ -n "$LOOP" ]] && losetup -d "$LOOP" 2>/dev/null
    rm -rf "$WORK" "$IMAGE"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# Real blocks, not holes: every read reaches the backing store.
dd if=/dev/urandom of="$IMAGE" bs=1M count=2048 status=none || { echo "bench: no room for the image" >&2; exit 1; }
LOOP=$(losetup --direct-io=on -f --show "$IMAGE") || { echo "bench: no loop device here; skipped"; exit 0; }
export TOLVARIN_HOME="$WORK/home" TOLVARIN_DISKTOOL=/bin/true
mkdir -p "$TOLVARIN_HOME"

mbps() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.1f\n", b / s / 1e6 }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

tolvarin_rate() { # depth
    "$CLI" cursory "$LOOP" --no-seek --yes --json --queue-depth "$1" --log "$WORK/log.txt" \
        >"$WORK/out.json" 2>/dev/null
    local status=$?
    ((status <= 1)) || { echo "bench: tolvarin-cli failed ($status)" >&2; exit 1; }
    local seconds
    seconds=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["timings"]["surfaceSeconds"])' "$WORK/out.json")
    mbps "$SIZE" "$seconds"
}
fio_rate() { # depth
    fio --name=scan --filename="$LOOP" --rw=read --bs=262144 --iodepth="$1" --ioengine=io_uring \
        --direct=1 --size="$SIZE" --output-format=json >"$WORK/fio.json" 2>/dev/null ||
        { echo "bench: fio failed" >&2; exit 1; }
    python3 -c 'import json,sys; print("%.1f" % (json.load(open(sys.argv[1]))["jobs"][0]["read"]["bw_bytes"] / 1e6))' "$WORK/fio.json"
}
dd_rate() {
    local t0 t1
    t0=$(date +%s.%N)
    dd if="$LOOP" of=/dev/null bs=256k iflag=direct status=none || { echo "bench: dd failed" >&2; exit 1; }
    t1=$(date +%s.%N)
    mbps "$SIZE" "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')"
}

echo "queued scan: $LOOP (direct I/O) over a 2 GiB image in $DIR, $ROUNDS rounds"
tolvarin_rate 8 >/dev/null; fio_rate 8 >/dev/null; dd_rate >/dev/null # warm-up
for ((i = 1; i <= ROUNDS; i++)); do
    line="round $i:"
    for d in "${DEPTHS[@]}"; do
        # Whoever reads second may find the data in a cache below the
        # loop device: the order changes every round.
        if ((i % 2)); then
            t=$(tolvarin_rate "$d"); f=$(fio_rate "$d")
        else
            f=$(fio_rate "$d"); t=$(tolvarin_rate "$d")
        fi
        echo "$t" >>"$WORK/t$d"; echo "$f" >>"$WORK/f$d"
        awk -v t="$t" -v f="$f" 'BEGIN { printf "%.4f\n", t / f }' >>"$WORK/r$d"
        line+=" d$d tolvarin $t fio $f;"
    done
    x=$(dd_rate); echo "$x" >>"$WORK/dd"
    for d in "${DEPTHS[@]}"; do
        awk -v t="$(tail -1 "$WORK/t$d")" -v x="$x" 'BEGIN { printf "%.4f\n", t / x }' >>"$WORK/x$d"
    done
    echo "$line dd $x MB/s"
done

DD=$(median <"$WORK/dd")
best=0; miss=0
printf '%-6s %12s %12s %10s %10s\n' depth "tolvarin MB/s" "fio MB/s" "of fio" "of dd"
for d in "${DEPTHS[@]}"; do
    T=$(median <"$WORK/t$d"); F=$(median <"$WORK/f$d")
    # Judged on the rounds' own ratios: the two readers of a round ran next
    # to each other, so a device that speeds up and slows down over the run
    # (a shared host's storage) cancels out of each of them.
    rf=$(median <"$WORK/r$d" | awk '{ printf "%.3f", $1 }')
    rd=$(median <"$WORK/x$d" | awk '{ printf "%.3f", $1 }')
    printf '%-6s %12s %12s %10s %10s\n' "$d" "$T" "$F" "$rf" "$rd"
    awk -v r="$rf" 'BEGIN { exit !(r < 0.95) }' && miss=1
    best=$(awk -v a="$best" -v b="$rd" 'BEGIN { print (b > a) ? b : a }')
done
printf 'dd (depth 1): %s MB/s; best depth against dd: %.3f (target >= 1.3)\n' "$DD" "$best"
awk -v b="$best" 'BEGIN { exit !(b < 1.3) }' && miss=1
if ((miss)); then
    echo "queued scan: MISSED a target"
    [[ "${BENCH_STRICT:-0}" == 1 ]] && exit 1
else
    echo "queued scan: targets met"
fi
