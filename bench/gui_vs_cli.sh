#!/usr/bin/env bash
# The window's cost to a scan: a cursory surface scan of one unit driven
# through the main window (tolvarin-gui-bench, offscreen, repainting as the
# progress comes in) against the same scan through tolvarin-cli, alternating
# in one run (cli, window, cli, window, ...). Each process is timed from
# outside by the bytes it has read (/proc/PID/io): the rate over the middle
# 80% of the unit, so that start-up, sizing and the end of the test do not
# count. Each round gives the window's rate over the CLI's; the verdict is
# the median of those ratios (target: at least 98%). The CPU time each
# process spent over those bytes is shown beside it: on a busy machine the
# rates wander, the CPU time much less.
#
#   bash bench/gui_vs_cli.sh [BUILD_DIR]
#
# Environment: BENCH_SECTIONS (default 40) scan sections in the sparse image,
# BENCH_ROUNDS (default 5) rounds after a warm-up, BENCH_IMAGE_DIR (default
# /dev/shm, else the build tree), BENCH_STRICT=1 to exit 1 below the target.
set -u

BUILD=$(cd "${1:-build}" && pwd)
GUI="$BUILD/bin/tolvarin-gui-bench"
CLI="$BUILD/bin/tolvarin-cli"
SECTIONS=${BENCH_SECTIONS:-40}
ROUNDS=${BENCH_ROUNDS:-5}
if [[ ! -x "$GUI" || ! -x "$CLI" ]]; then
    echo "bench: $GUI or $CLI is missing; build first (cmake --build $BUILD --target tolvarin-gui-bench)" >&2
    exit 1
fi
if ! [[ "$SECTIONS" =~ ^[1-9][0-9]?$ && "$ROUNDS" =~ ^[1-9][0-9]?$ ]]; then
    echo "bench: BENCH_SECTIONS and BENCH_ROUNDS take 1 to 99" >&2
    exit 1
fi
DIR=${BENCH_IMAGE_DIR:-}
if [[ -z "$DIR" ]]; then
    DIR="$BUILD"
    [[ "$(stat -f -c %T /dev/shm 2>/dev/null)" == tmpfs && -w /dev/shm ]] && DIR=/dev/shm
fi
WORK=$(mktemp -d "$DIR/tolvarin-gui-bench.XXXXXX") || exit 1
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/dev" "$WORK/home/.config/Tolvarin"
printf '[General]\nindexingControl=0\ndisableTimeMachine=0\ndisablePowerManagement=0\n' \
    >"$WORK/home/.config/Tolvarin/Tolvarin.conf"
# Sparse: the reads cost what the engine and its face cost, not a disk.
truncate -s $((SECTIONS * 1048576000)) "$WORK/dev/bench0"

export TOLVARIN_HOME="$WORK/home" TOLVARIN_DEV_DIR="$WORK/dev" TOLVARIN_WITHOUT_ROOT=1
export TOLVARIN_DISKTOOL="$(cd "$(dirname "$0")/.." && pwd)/scripts/image-disktool.sh"
unset TOLVARIN_CONSOLE LD_PRELOAD TOLVARIN_FAULT_PLAN

echo "Window against tolvarin-cli: cursory surface scan of $SECTIONS sections in $DIR, $ROUNDS rounds"
python3 - "$GUI" "$CLI" "$((SECTIONS * 1048576000))" "$ROUNDS" "${BENCH_STRICT:-0}" <<'PY'
import json, os, statistics, subprocess, sys, time

gui, cli, size, rounds, strict = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5] == "1"

def rchar(pid):
    try:
        with open(f"/proc/{pid}/io") as io:
            for line in io:
                if line.startswith("rchar:"):
                    return int(line.split()[1])
    except OSError:
        return None

def cpu_seconds(pid):
    """CPU time of every thread of the process so far (seconds)."""
    total = 0
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/schedstat") as stat:
                total += int(stat.read().split()[0])
    except (OSError, ValueError):
        pass
    return total / 1e9

def timed(command):
    """Runs command; answers its read rate over the middle 80% of the unit
    (MB/s), the CPU seconds it spent meanwhile, and its output."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    base = start = end = None
    cpu_start = cpu_end = 0.0
    while process.poll() is None:
        value = rchar(process.pid)
        now = time.perf_counter()
        if value is not None:
            base = value if base is None else base
            if start is None and value - base >= 0.1 * size:
                start, cpu_start = now, cpu_seconds(process.pid)
            if end is None and value - base >= 0.9 * size:
                end, cpu_end = now, cpu_seconds(process.pid)
        time.sleep(0.0005)
    out = process.stdout.read().decode()
    if process.returncode != 0 or start is None or end is None or end <= start:
        sys.exit(f"bench: {command[0]} failed (status {process.returncode})")
    return 0.8 * size / (end - start) / 1e6, cpu_end - cpu_start, out

commands = {
    "cli": [cli, "cursory", "bench0", "--no-seek", "--yes", "--json"],
    "window": [gui, "bench0"],
}
timed(commands["cli"])
timed(commands["window"])
ratios, cpu_ratios, rates = [], [], {"cli": [], "window": []}
for r in range(1, rounds + 1):
    c, c_cpu, _ = timed(commands["cli"])
    w, w_cpu, out = timed(commands["window"])
    # The program's own line comes last; the engine prints a few of its own.
    summary = [line for line in out.splitlines() if line.startswith("{")][-1]
    redraws = json.loads(summary)["redraws"]
    rates["cli"].append(c)
    rates["window"].append(w)
    ratios.append(w / c)
    cpu_ratios.append(w_cpu / c_cpu if c_cpu > 0 else float("nan"))
    print(f"round {r}: cli {c:8.1f} MB/s {c_cpu:6.3f} s CPU   window {w:8.1f} MB/s "
          f"{w_cpu:6.3f} s CPU   rate ratio {w / c:6.3f}   ({redraws} redraws)")
ratio = statistics.median(ratios)
print(f"median rates: cli {statistics.median(rates['cli']):.1f} MB/s, "
      f"window {statistics.median(rates['window']):.1f} MB/s")
print(f"CPU time over the same bytes, window/cli (median): {statistics.median(cpu_ratios):.3f}")
verdict = "met" if ratio >= 0.98 else "MISSED"
print(f"RESULT window/cli surface scan rate: {ratio * 100:.1f}% (target 98%: {verdict})")
sys.exit(1 if strict and ratio < 0.98 else 0)
PY
