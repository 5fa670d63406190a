#!/usr/bin/env bash
# How much a normal test's bookkeeping costs its surface scan: the surface
# scan rate of normal tests (section records in the scan file, start records
# in the diagnostics history, and the first average or the fold that follows
# the scan) against cursory tests (log only) on the same unit, in one run,
# both through tolvarin-cli.
#
#   bash bench/normal_vs_cursory.sh [BUILD_DIR]
#
# Environment:
#   BENCH_SECTIONS   scan sections of 1,048,576,000 bytes in the image (default 2)
#   BENCH_ROUNDS     alternating rounds after the warm-up (default 5)
#   BENCH_IMAGE_DIR  where the image goes (default /dev/shm when it is a tmpfs
#                    with room, else BUILD_DIR)
#
# The image is filled with zeros (every block allocated) and read as the
# device "sdz" of a recorded listing. After one warm-up test of each kind
# (the normal one stores the baseline), cursory and normal tests alternate
# and the medians of their surface scan rates are compared. The surface
# phase of a test is timed from the start of its surface scan to the start of
# its seek scan (the hub's engine clock readings in the --json summary).
set -u

BUILD=$(cd "${1:-build}" && pwd) || exit 1
CLI="$BUILD/bin/tolvarin-cli"
SECTIONS=${BENCH_SECTIONS:-2}
ROUNDS=${BENCH_ROUNDS:-5}
SECTION=1048576000

if [[ ! -x "$CLI" ]]; then
    echo "bench: $CLI is missing; build first" >&2
    exit 1
fi
if ! [[ "$SECTIONS" =~ ^[1-9][0-9]?$ && "$ROUNDS" =~ ^[1-9][0-9]?$ ]]; then
    echo "bench: BENCH_SECTIONS and BENCH_ROUNDS take 1 to 99" >&2
    exit 1
fi
command -v python3 >/dev/null || {
    echo "bench: python3 is needed to read the summaries" >&2
    exit 1
}

SIZE=$((SECTIONS * SECTION))
NEED_KIB=$((SIZE / 1024 + 262144))
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
    echo "bench: $DIR has no room for a $((SIZE / 1048576)) MiB image" >&2
    exit 1
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/tolvarin-bench-normal.XXXXXX") || exit 1
DEV=$(mktemp -d "$DIR/tolvarin-bench-dev.XXXXXX") || exit 1
cleanup() { rm -rf "$WORK" "$DEV"; }
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "bench: image $DEV/sdz: $SECTIONS sections, filled with zeros, on $(stat -f -c %T "$DIR")"
if ! dd if=/dev/zero of="$DEV/sdz" bs=1M count=$((SIZE / 1048576)) conv=fsync status=none; then
    echo "bench: could not write the image" >&2
    exit 1
fi
GB=$(awk -v s="$SIZE" 'BEGIN { printf "%.1f GB", s / 1e9 }')
cat >"$WORK/disktool" <<EOF
#!/bin/sh
case "\$1" in
list) printf '%s\n' /dev/sdz '   #:                       TYPE NAME                         SIZE  IDENTIFIER' \\
    '   0:                                                      *$GB  sdz' ;;
info) printf '%s\n' '   Device Identifier:        sdz' '   SMART Status:             Not Supported' \\
    '   Protocol:                 SATA' '   UUID:                     0x5000c500deadbeef' \\
    '   Total Size:               $GB ($SIZE Bytes)' ;;
esac
EOF
chmod +x "$WORK/disktool"
mkdir -p "$WORK/home/.config/Tolvarin"
printf '[General]\nindexingControl=0\ndisableTimeMachine=0\ndisablePowerManagement=0\n' \
    >"$WORK/home/.config/Tolvarin/Tolvarin.conf"
export TOLVARIN_HOME="$WORK/home" TOLVARIN_DEV_DIR="$DEV" TOLVARIN_DISKTOOL="$WORK/disktool"
unset DISPLAY WAYLAND_DISPLAY # no report viewer opened at the end of a test

PRIORITY=()
if [[ $(id -u) -eq 0 ]]; then
    PRIORITY=(nice -n -15)
fi

# test KIND N: one test; prints its surface scan rate in MB/s.
test_rate() {
    local kind=$1 n=$2 args=()
    [[ "$kind" == cursory ]] && args=(--no-seek)
    if ! "${PRIORITY[@]}" "$CLI" "$kind" sdz --yes --json "${args[@]}" \
        --log "$WORK/$kind$n.log" </dev/null >"$WORK/$kind$n.json" 2>"$WORK/$kind$n.err"; then
        echo "bench: the $kind test $n did not pass (see $WORK/$kind$n.err)" >&2
        tail -3 "$WORK/$kind$n.err" >&2
        return 1
    fi
    python3 - "$WORK/$kind$n.json" <<'EOF'
import json, sys
d = json.load(open(sys.argv[1]))
seconds = d["timings"]["surfaceSeconds"]
print("%.1f" % (d["detectedSize"] / seconds / 1e6))
EOF
}

echo "bench: warm-up"
test_rate cursory 0 >/dev/null || exit 1
test_rate normal 0 >/dev/null || exit 1 # the baseline

normal_rates=()
cursory_rates=()
for round in $(seq "$ROUNDS"); do
    c=$(test_rate cursory "$round") || exit 1
    n=$(test_rate normal "$round") || exit 1
    cursory_rates+=("$c")
    normal_rates+=("$n")
    printf 'round %d: cursory %8.1f MB/s   normal %8.1f MB/s\n' "$round" "$c" "$n"
done

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
mc=$(median "${cursory_rates[@]}")
mn=$(median "${normal_rates[@]}")
awk -v n="$mn" -v c="$mc" 'BEGIN {
    printf "RESULT normal/cursory surface scan rate: %.1f%% (median normal %.1f MB/s, cursory %.1f MB/s)\n",
        100 * n / c, n, c }'
