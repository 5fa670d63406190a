#!/usr/bin/env bash
# How far the read rate of a stretch of an unchanged unit wanders from test
# to test: the figure the slowed-stretch threshold is chosen from. Runs
# normal tests of one unit through tolvarin-cli and compares, for every test
# after the first, each stretch's rate with the first test's (the baseline)
# and with the mean of the tests before it (the running average), as the
# measurements kept beside the unit's files have them.
#
#   bash bench/stretch_spread.sh [BUILD_DIR]
#
# Environment:
#   BENCH_SECTIONS   scan sections of 1,048,576,000 bytes in the image (default 2)
#   BENCH_TESTS      normal tests, the baseline included (default 6)
#   BENCH_IMAGE_DIR  where the image goes (default BUILD_DIR: a disk file
#                    system, so that the engine's O_DIRECT reads reach the disk)
#
# The image is filled with zeros (every block allocated) and read as the
# device "sdz" that scripts/image-disktool.sh lists. The output gives, for
# the mean rate and for the median read time of the stretches, the lowest
# ratios and low quantiles, and how many stretches fell under a few
# candidate thresholds: a threshold must lie below the lowest ratio an
# unchanged unit shows.
set -u

BUILD=$(cd "${1:-build}" && pwd) || exit 1
CLI="$BUILD/bin/tolvarin-cli"
SECTIONS=${BENCH_SECTIONS:-2}
TESTS=${BENCH_TESTS:-6}
SECTION=1048576000

if [[ ! -x "$CLI" ]]; then
    echo "bench: $CLI is missing; build first" >&2
    exit 1
fi
if ! [[ "$SECTIONS" =~ ^[1-9][0-9]?$ && "$TESTS" =~ ^[1-9][0-9]?$ && "$TESTS" -ge 2 ]]; then
    echo "bench: BENCH_SECTIONS takes 1 to 99, BENCH_TESTS 2 to 99" >&2
    exit 1
fi
command -v python3 >/dev/null || {
    echo "bench: python3 is needed to read the measurements" >&2
    exit 1
}

SIZE=$((SECTIONS * SECTION))
DIR=${BENCH_IMAGE_DIR:-$BUILD}
if (($(df -Pk "$DIR" | awk 'NR == 2 { print $4 }') <= SIZE / 1024 + 262144)); then
    echo "bench: $DIR has no room for a $((SIZE / 1048576)) MiB image" >&2
    exit 1
fi
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tolvarin-bench-spread.XXXXXX") || exit 1
DEV=$(mktemp -d "$DIR/tolvarin-bench-dev.XXXXXX") || exit 1
trap 'rm -rf "$WORK" "$DEV"' EXIT
trap 'exit 130' INT TERM

echo "bench: image $DEV/sdz: $SECTIONS sections, filled with zeros, on $(stat -f -c %T "$DIR")"
dd if=/dev/zero of="$DEV/sdz" bs=1M count=$((SIZE / 1048576)) conv=fsync status=none || exit 1
mkdir -p "$WORK/home/.config/Tolvarin"
printf '[General]\nindexingControl=0\ndisableTimeMachine=0\ndisablePowerManagement=0\n' \
    >"$WORK/home/.config/Tolvarin/Tolvarin.conf"
export TOLVARIN_HOME="$WORK/home" TOLVARIN_DEV_DIR="$DEV"
export TOLVARIN_DISKTOOL="$(cd "$(dirname "$0")/.." && pwd)/scripts/image-disktool.sh"
unset DISPLAY WAYLAND_DISPLAY

for n in $(seq "$TESTS"); do
    # Dropped, so that no test reads from the page cache another filled.
    sync
    echo 3 >/proc/sys/vm/drop_caches 2>/dev/null || true
    if ! "$CLI" normal sdz --yes --json --log "$WORK/test$n.log" </dev/null \
        >"$WORK/test$n.json" 2>"$WORK/test$n.err"; then
        echo "bench: normal test $n did not pass (see $WORK/test$n.err)" >&2
        tail -3 "$WORK/test$n.err" >&2
        exit 1
    fi
    echo "bench: test $n done"
    sleep 1 # one test a second: the measurement files are named by the second
done

python3 - "$WORK/home" <<'EOF'
import glob, json, statistics, sys

files = sorted(glob.glob(sys.argv[1] + "/**/Measurements/*/*-normal.json", recursive=True))
tests = [json.load(open(f)) for f in files]
tests.sort(key=lambda t: t["started"]["wallMicros"])

def column(test, name):
    m = test["surface"]["map"]
    return [s[m["fields"].index(name)] for s in m["stretches"]]

def rates(test):
    return [b / t * 1e6 if t > 0 and b > 0 else None
            for b, t in zip(column(test, "bytes"), column(test, "sumMicros"))]

def speeds(test):  # the inverse of each stretch's median read time
    return [1.0 / m if m > 0 else None for m in column(test, "medianMicros")]

def ratios(maps, normalise):
    against_baseline, against_average = [], []
    for k in range(1, len(maps)):
        now_b = [v / maps[0][i] for i, v in enumerate(maps[k]) if v and maps[0][i]]
        scale = statistics.median(now_b) if normalise else 1.0
        against_baseline += [r / scale for r in now_b]
        now_a = []
        for i, v in enumerate(maps[k]):
            earlier = [m[i] for m in maps[:k] if m[i]]
            if v and earlier:
                now_a.append(v / (sum(earlier) / len(earlier)))
        scale = statistics.median(now_a) if normalise else 1.0
        against_average += [r / scale for r in now_a]
    return against_baseline, against_average

def quantile(values, q):
    values = sorted(values)
    return values[min(len(values) - 1, int(q * len(values)))]

rate_maps = [rates(t) for t in tests]
print("bench: %d tests of %d stretches; each test's median stretch rate: %s MB/s" % (
    len(tests), len(rate_maps[0]),
    ", ".join("%.0f" % (statistics.median(r for r in m if r) / 1e6) for m in rate_maps)))
lowest = None
for label, maps, normalise in (("rate", rate_maps, False),
                               ("rate / the test's median ratio", rate_maps, True),
                               ("median read time", [speeds(t) for t in tests], False)):
    print("  %s:" % label)
    for name, values in zip(("baseline", "average"), ratios(maps, normalise)):
        print("    against the %-8s: lowest %.3f, 0.1%% %.3f, 1%% %.3f, 5%% %.3f, median %.3f;"
              " under 0.5: %d, 0.6: %d, 0.7: %d of %d" %
              (name, min(values), quantile(values, 0.001), quantile(values, 0.01),
               quantile(values, 0.05), quantile(values, 0.5),
               *[sum(r < x for r in values) for x in (0.5, 0.6, 0.7)], len(values)))
        if label == "median read time" and name == "baseline":
            lowest = (min(values), quantile(values, 0.001), len(values))
print("RESULT stretch median read time against the baseline: lowest %.3f, 0.1%% quantile %.3f "
      "(%d stretches of %d tests)" % (*lowest, len(tests) - 1))
EOF
