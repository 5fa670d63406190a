#!/usr/bin/env bash
# End-to-end check of the LD_PRELOAD fault library with standard tools: the
# faults a plan names must hit the target and nothing else, the clock must
# jump without real time passing, and writes must heal failing ranges.
#
# Usage: faultlib.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/common_lib.bash" # pass, fail, check, finish

build=${1:?usage: faultlib.sh BUILD_DIR}
lib="$(cd "$build" && pwd)/lib/libtolvarin_fault.so"
if [ ! -f "$lib" ]; then
    echo "skip: $lib is not built (the sanitizer build leaves it out)"
    exit 77
fi
for tool in dd python3 date; do
    if ! command -v "$tool" >/dev/null; then
        echo "skip: $tool is missing"
        exit 77
    fi
done
# The interpreter itself: a wrapper script in front of it would run its own
# helpers under the library too.
python=$(python3 -c 'import sys; print(sys.executable)')

work=$(mktemp -d "${TMPDIR:-/tmp}/tolvarin-faultlib.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

now_ms() { echo $(($(date +%s%N) / 1000000)); }

MiB=1048576
# 4 MiB with a recognisable pattern (no zero bytes, so a healed block shows).
"$python" - <<'EOF'
block = bytes((i * 7 + 1) % 251 + 1 for i in range(4096))
with open("image", "wb") as f:
    f.write(block * 1024)
EOF

cat >plan <<EOF
# one bad block at 1 MiB, the rest of the plan further up
target image
eio $MiB $((MiB + 4096))
EOF

faulty() {
    LD_PRELOAD="$lib" TOLVARIN_FAULT_PLAN="$work/plan" TOLVARIN_FAULT_REPORT="$work/report" "$@"
}

# --- dd: a plain and a direct read stop at the bad block -------------------
for mode in plain direct; do
    flags=()
    if [ "$mode" = direct ]; then
        if ! dd if=image of=/dev/null bs=4096 count=1 iflag=direct 2>/dev/null; then
            echo "note: this file system refuses O_DIRECT; direct read not checked"
            continue
        fi
        flags=(iflag=direct)
    fi
    faulty dd if=image of=/dev/null bs=4096 "${flags[@]}" 2>dd.err
    status=$?
    check "dd $mode fails" test "$status" -ne 0
    check "dd $mode reports EIO" grep -q "Input/output error" dd.err
    check "dd $mode stops at 1 MiB" grep -q "^256+0 records in" dd.err
done

faulty dd if=image of=/dev/null bs=4096 conv=noerror,sync 2>dd.err
check "dd noerror sees one bad block" test "$(grep -c "Input/output error" dd.err)" -eq 1
check "dd noerror reads the rest" grep -q "^1023+1 records in" dd.err

# The same file under another name is the target; a copy of it is not.
ln image hardlink
ln -s image symlink
cp image copy
for name in hardlink symlink; do
    faulty dd if=$name of=/dev/null bs=4096 2>/dev/null
    check "dd through a $name fails" test $? -ne 0
done
check "a copy reads whole" faulty dd if=copy of=/dev/null bs=4096 status=none
check "no plan, no faults" env LD_PRELOAD="$lib" dd if=image of=/dev/null bs=4096 status=none

# A program that never opens the target keeps the real time.
real_s=$(date +%s)
seen_s=$(faulty date +%s)
check "date is unaffected" test $((seen_s - real_s)) -le 2 -a $((seen_s - real_s)) -ge 0

# --- python: every kind of range in one process -----------------------------
cat >plan <<EOF
target $work/image
eio 1M 0x101000
eio 0x180000 0x181000 sticky
slow 2M 0x201000 30000000   # half a minute a read
short 3M 0x301000 512
seekfail 0x380000 0x381000
writefail 0x3C0000 0x3C1000
EOF
# What the Python checks share.
cat >checklib.py <<'EOF'
import errno, sys

M = 1 << 20
failed = 0
def check(name, ok):
    global failed
    print(("ok   " if ok else "FAIL ") + name)
    failed += 0 if ok else 1
def fails(code, call):
    try:
        call()
    except OSError as e:
        return e.errno == code
    return False
def eio(call):
    return fails(errno.EIO, call)
def done():
    sys.exit(1 if failed else 0)
EOF
cat >check.py <<'EOF'
import os, threading, time
from checklib import M, check, eio, done

fd = os.open("image", os.O_RDWR)
check("pread overlapping the start fails", eio(lambda: os.pread(fd, 1024, M - 512)))
check("pread overlapping the end fails", eio(lambda: os.pread(fd, 1024, M + 4095)))
check("pread just before reads", len(os.pread(fd, 512, M - 512)) == 512)
check("pread at END reads", len(os.pread(fd, 512, M + 4096)) == 512)
os.lseek(fd, M - 4096, os.SEEK_SET)
check("read into the range fails", eio(lambda: os.read(fd, 8192)))
check("a failed read leaves the offset", os.lseek(fd, 0, os.SEEK_CUR) == M - 4096)
check("readv into the range fails", eio(lambda: os.readv(fd, [bytearray(4096), bytearray(4096)])))

os.lseek(fd, 0x37F000, os.SEEK_SET)
check("lseek into a seekfail range fails", eio(lambda: os.lseek(fd, 0x380800, os.SEEK_SET)))
check("a failed lseek leaves the offset", os.lseek(fd, 0, os.SEEK_CUR) == 0x37F000)
check("relative lseek into it fails", eio(lambda: os.lseek(fd, 0x1000, os.SEEK_CUR)))
check("lseek past it works", os.lseek(fd, 0x381000, os.SEEK_SET) == 0x381000)

check("short pread", len(os.pread(fd, 65536, 3 * M)) == 512)
os.lseek(fd, 3 * M + 100, os.SEEK_SET)
got = os.read(fd, 8192)
check("short read and its offset",
      len(got) == 512 and os.lseek(fd, 0, os.SEEK_CUR) == 3 * M + 612 and
      got == os.pread(fd, 512, 3 * M + 100))
check("a read before the short range is whole", len(os.pread(fd, 65536, 3 * M - 65536)) == 65536)

t0, m0, p0 = time.time(), time.monotonic(), time.perf_counter()
os.pread(fd, 4096, 2 * M)
jumps = (time.time() - t0, time.monotonic() - m0, time.perf_counter() - p0)
check("a slow read moves the clocks by 30 s", all(30.0 <= j < 30.5 for j in jumps))
s0 = time.monotonic()
time.sleep(0.2)
threading.Event().wait(0.2)
cond = threading.Condition()
with cond:
    cond.wait(0.2)
check("timed waits after the jump last as asked", 0.6 <= time.monotonic() - s0 < 3.0)

check("write into a writefail range fails", eio(lambda: os.pwrite(fd, b"\0" * 512, 0x3C0E00)))
check("and writes nothing", os.pread(fd, 512, 0x3C0E00) != b"\0" * 512)

os.pwrite(fd, b"\0" * 512, M + 512)
check("a write heals what it covers", os.pread(fd, 512, M + 512) == b"\0" * 512)
check("and only that", eio(lambda: os.pread(fd, 512, M)) and eio(lambda: os.pread(fd, 512, M + 1024)))
os.lseek(fd, M, os.SEEK_SET)
os.write(fd, b"\0" * 4096)
check("a write over the range heals it", os.pread(fd, 4096, M) == b"\0" * 4096)
os.pwrite(fd, b"\0" * 4096, 0x180000)
check("a sticky range stays bad", eio(lambda: os.pread(fd, 512, 0x180000)))
os.close(fd)
done()
EOF
rm -f report
start=$(now_ms)
faulty "$python" check.py
check "python checks" test $? -eq 0
spent=$(($(now_ms) - start))
check "30 s of slow reads cost ${spent} ms of real time" test "$spent" -lt 10000
check "the report counts the faults" \
    grep -Eq "target_opens=1 eio=7 seekfail=2 slow=1 shift_us=30000000 short=2 writefail=1 healed_bytes=4096 gone=0 wallstep_us=0$" report

# A fresh process starts from the plan again: healing is per process.
faulty dd if=image of=/dev/null bs=4096 2>/dev/null
check "heal does not outlive the process" test $? -ne 0

# --- a unit that goes away, a wall clock that is set -----------------------
cat >plan <<EOF
target $work/image
gone 1M 0x101000 ENXIO
wallstep -3600000000 at 2M   # an hour back when a read reaches 2 MiB
unplug at 3M                 # pulled out when a read reaches 3 MiB
EOF
cat >gone.py <<'EOF'
import errno, os, threading, time
from checklib import M, check, fails, done

fd = os.open("image", os.O_RDWR)
check("a gone range fails reads with ENXIO", fails(errno.ENXIO, lambda: os.pread(fd, 4096, M)))
check("and writes, which do not heal it",
      fails(errno.ENXIO, lambda: os.pwrite(fd, b"\0" * 4096, M)) and
      fails(errno.ENXIO, lambda: os.pread(fd, 4096, M)))
check("next to it reads well", len(os.pread(fd, 4096, M + 4096)) == 4096)

t0, m0 = time.time(), time.monotonic()
os.pread(fd, 4096, 2 * M - 4096)
check("no step before the offset", -1 < time.time() - t0 < 5)
os.pread(fd, 4096, 2 * M)
step, run = time.time() - t0, time.monotonic() - m0
check("the read reaching the offset sets the wall clock an hour back", -3600 <= step < -3595)
check("while the monotonic clock runs on", 0 <= run < 5)
os.pread(fd, 4096, 2 * M + 4096)
check("the step happens once", -3600 <= time.time() - t0 < -3595)
s0 = time.monotonic()
threading.Event().wait(0.2)
cond = threading.Condition()
with cond:
    cond.wait(0.2)
check("timed waits after the step last as asked", 0.4 <= time.monotonic() - s0 < 3.0)

check("reads below the unplug offset work", len(os.pread(fd, 4096, 3 * M - 4096)) == 4096)
check("the read reaching it fails with ENODEV", fails(errno.ENODEV, lambda: os.pread(fd, 4096, 3 * M)))
check("and from then on every read", fails(errno.ENODEV, lambda: os.pread(fd, 4096, 0)))
check("and every write", fails(errno.ENODEV, lambda: os.pwrite(fd, b"\0" * 512, 0)))
check("seeks still answer", os.lseek(fd, 4096, os.SEEK_SET) == 4096)
check("read at the offset fails too", fails(errno.ENODEV, lambda: os.read(fd, 4096)))
os.close(fd)
done()
EOF
rm -f report
faulty "$python" gone.py
check "gone and wallstep checks" test $? -eq 0
check "the report counts them" grep -Eq "eio=0 .* gone=7 wallstep_us=-3600000000$" report

# dd reads ten blocks, then the unit is pulled out.
printf 'target %s\nunplug after 10 ENXIO\n' "$work/image" >plan
faulty dd if=image of=/dev/null bs=4096 2>dd.err
check "unplug after ten reads: dd fails" test $? -ne 0
check "with ENXIO" grep -q "No such device or address" dd.err
check "after ten blocks" grep -q "^10+0 records in" dd.err

# --- a bad plan stops the program with a clear message ----------------------
bad_plan() { # bad_plan NAME TEXT EXPECTED-MESSAGE
    printf '%s\n' "$2" >bad.plan
    LD_PRELOAD="$lib" TOLVARIN_FAULT_PLAN="$work/bad.plan" /bin/true 2>bad.err
    local status=$?
    if [ "$status" -eq 78 ] && grep -q "$3" bad.err; then pass "$1"; else
        fail "$1 (status $status: $(cat bad.err))"
    fi
}
bad_plan "unknown directive" $'target image\nbogus 1 2' "bad.plan:2: unknown directive"
bad_plan "empty range" $'target image\neio 10 10' "bad.plan:2: START must be below END"
bad_plan "missing value" $'target image\nslow 0 512' "slow needs MICROSECONDS"
bad_plan "trailing text" $'target image\neio 0 512 soon' "unexpected text"
bad_plan "not a number" $'target image\neio 0 1X' "expected START END"
bad_plan "ranges without a target" 'eio 0 512' "no target line"
bad_plan "unplug without a moment" $'target image\nunplug 4096' "expected 'at OFFSET' or 'after READS'"
bad_plan "unplug with another errno" $'target image\nunplug at 0 EIO' "unplug takes ENODEV or ENXIO"
bad_plan "gone with another errno" $'target image\ngone 0 512 EPERM' "gone takes ENODEV or ENXIO"
bad_plan "wallstep of nothing" $'target image\nwallstep 0 at 0' "wallstep needs a non-zero"
bad_plan "wallstep by a word" $'target image\nwallstep soon at 0' "wallstep needs a non-zero"
LD_PRELOAD="$lib" TOLVARIN_FAULT_PLAN="$work/absent.plan" /bin/true 2>bad.err
check "a missing plan stops the program" test $? -eq 78

finish
