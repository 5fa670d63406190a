#!/usr/bin/env bash
# Two units tested at once: two normal tests (tolvarin-cli normal) of two
# loop devices with direct I/O on separate image files, started together,
# against two plain 256 KiB read loops (dd iflag=direct) over the same two
# units at once, in alternating rounds of the same run. The rate of a test
# is its unit's size over its surface scan's time (the JSON summary's
# surfaceSeconds); the rate of a pair is the sum of its two rates. The
# target is a ratio of at least 90%: tests of different units do not hold
# each other up beyond what the storage imposes. Needs root and loop devices.
#
#   bash bench/two_units.sh [BUILD_DIR]
#
# Environment: BENCH_ROUNDS (default 3), BENCH_MIB (unit size, default 2048),
# BENCH_STRICT=1 (exit 1 on a miss).
set -u
BUILD=${1:-build}
CLI="$BUILD/bin/tolvarin-cli"
ROUNDS=${BENCH_ROUNDS:-3}
MIB=${BENCH_MIB:-2048}
TARGET=0.90
[[ -x "$CLI" ]] || { echo "bench: $CLI is missing; build first" >&2; exit 1; }
[[ "$(id -u)" == 0 ]] && command -v losetup >/dev/null ||
    { echo "bench: needs root and losetup" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/var/tmp}/tolvarin-two.XXXXXX") || exit 1
LOOPS=()
cleanup() {
    local l
    for l in "${LOOPS[@]}"; do losetup -d "$l" 2>/dev/null; done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
SIZES=("$MIB" "$((MIB + 8))")
for u in 0 1; do
    # Written, not sparse: both sides read real blocks of the backing disk.
    # Sizes differ: two blank units of one size are one unit to the catalogue.
    dd if=/dev/urandom of="$WORK/$u.img" bs=1M count="${SIZES[$u]}" status=none ||
        { echo "bench: no room for the images" >&2; exit 1; }
    l=$(losetup -f --show --direct-io=on "$WORK/$u.img") ||
        { echo "bench: no loop device" >&2; exit 1; }
    LOOPS+=("$l")
done
export TOLVARIN_HOME="$WORK/home"
mkdir -p "$TOLVARIN_HOME/.config/Tolvarin"
printf '[General]\nindexingControl=0\ndisableTimeMachine=0\ndisablePowerManagement=0\n' \
    >"$TOLVARIN_HOME/.config/Tolvarin/Tolvarin.conf"

# plain: the two dd loops at once; prints the summed rate (MB/s)
plain() {
    local i
    for i in 0 1; do
        (
            t0=$(date +%s.%N)
            dd if="${LOOPS[$i]}" of=/dev/null bs=256k iflag=direct status=none
            t1=$(date +%s.%N)
            awk -v a="$t0" -v b="$t1" -v n="$((SIZES[i] * 1048576))" 'BEGIN { printf "%.3f\n", n / (b - a) / 1e6 }'
        ) >"$WORK/plain$i" &
    done
    wait
    awk '{ s += $1 } END { printf "%.3f\n", s }' "$WORK/plain0" "$WORK/plain1"
}

# tests: the two normal tests at once; prints the summed surface rate (MB/s)
tests() {
    local i
    for i in 0 1; do
        "$CLI" normal "${LOOPS[$i]}" --yes --answer 8=0 --json --log "$WORK/log$i" \
            </dev/null >"$WORK/test$i.json" 2>"$WORK/test$i.err" &
    done
    wait
    for i in 0 1; do
        python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); t=d["timings"]["surfaceSeconds"]
assert d["exitStatus"] == 0, d["problem"]
print("%.3f" % (int(sys.argv[2]) / t / 1e6))' "$WORK/test$i.json" "$((SIZES[i] * 1048576))" ||
            { echo "bench: test $i failed (see $WORK/test$i.err)" >&2; exit 1; }
    done | awk '{ s += $1 } END { printf "%.3f\n", s }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

plain >/dev/null # warm-up
: >"$WORK/ratios"
for ((r = 1; r <= ROUNDS; r++)); do
    p=$(plain)
    t=$(tests) || exit 1
    ratio=$(awk -v p="$p" -v t="$t" 'BEGIN { printf "%.3f\n", t / p }')
    echo "$ratio" >>"$WORK/ratios"
    printf 'round %d: two read loops %.1f MB/s, two normal tests %.1f MB/s, ratio %.1f%%\n' \
        "$r" "$p" "$t" "$(awk -v x="$ratio" 'BEGIN { print x * 100 }')"
done
R=$(median <"$WORK/ratios")
printf 'median ratio %.1f%% (target >= %.0f%%)\n' "$(awk -v x="$R" 'BEGIN { print x * 100 }')" \
    "$(awk -v x="$TARGET" 'BEGIN { print x * 100 }')"
if awk -v x="$R" -v t="$TARGET" 'BEGIN { exit !(x < t) }'; then
    echo "two units: MISSED the target"
    [[ "${BENCH_STRICT:-0}" == 1 ]] && exit 1
else
    echo "two units: target met"
fi
