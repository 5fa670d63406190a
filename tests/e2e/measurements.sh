#!/usr/bin/env bash
# The measurements kept beside the designed files, end to end through the
# fault library: a slow stretch lands in its latency class at its place on
# the surface map and an unreadable one shows as unreadable; a second
# normal test with a stretch made slower lists it among the slowed stretches
# and paints it red on the report's baseline-change map; `history` lists
# both tests with their indices, and a damaged measurement file costs only
# its own entry; a slow read while a second process reads the same loop
# device is marked doubtful.
#
# Usage: measurements.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/normal_lib.bash"
normal_setup "$@" 3
need_faultlib

MB=1048576
stretch=$((10 * MB)) # 3 sections cut into 100 parts each
# A slow place in section 1 (200 ms a read: class "<500ms") and an
# unreadable one in section 2, both away from the seek scan's locations
# (multiples of 100 MB).
slow=$((G + 300 * MB))
bad=$((2 * G + 130 * MB))
plan1="$work/first.plan"
write_plan "$plan1" \
    "slow $slow $((slow + 4 * MB)) 200000" \
    "eio  $bad $((bad + 4096)) sticky"
measures="$data/Measurements"

# png_pixels FILE R G B: how many pixels of a PNG (8-bit RGB or RGBA) have
# that colour. rtf_pngs RTF DIR: the pictures of a report as DIR/N.png.
png_pixels() {
    python3 - "$@" <<'EOF'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
want = tuple(int(v) for v in sys.argv[2:5])
pos, idat = 8, b""
while pos < len(data):
    size, kind = struct.unpack(">I4s", data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + size]
    if kind == b"IHDR":
        width, height, depth, colour = struct.unpack(">IIBB", body[:10])
    elif kind == b"IDAT":
        idat += body
    pos += 12 + size
assert depth == 8 and colour in (2, 6), "unexpected PNG format"
bpp = 3 if colour == 2 else 4
raw, stride = zlib.decompress(idat), width * bpp
prev, count, i = bytearray(stride), 0, 0
for _ in range(height):
    f, line = raw[i], bytearray(raw[i + 1:i + 1 + stride])
    i += 1 + stride
    for x in range(stride):
        a = line[x - bpp] if x >= bpp else 0
        b, c = prev[x], prev[x - bpp] if x >= bpp else 0
        if f == 1: line[x] = (line[x] + a) & 255
        elif f == 2: line[x] = (line[x] + b) & 255
        elif f == 3: line[x] = (line[x] + (a + b) // 2) & 255
        elif f == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    count += sum(1 for x in range(0, stride, bpp) if tuple(line[x:x + 3]) == want)
    prev = line
print(count)
EOF
}
rtf_pngs() {
    python3 - "$@" <<'EOF'
import re, sys
text = open(sys.argv[1], encoding="latin-1").read()
for n, m in enumerate(re.finditer(r"\\pngblip[^}]*?\s([0-9a-fA-F\s]+)\}", text)):
    open("%s/%d.png" % (sys.argv[2], n), "wb").write(bytes.fromhex(re.sub(r"\s", "", m.group(1))))
EOF
}
holds() { # holds FILE EXPR: a condition on a --json summary
    python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); sys.exit(0 if eval(sys.argv[2]) else 1)' "$1" "$2"
}
stretch_of() { echo $(($1 / stretch)); } # stretch_of OFFSET

# --- a first test: the slow and the unreadable stretch on the map ----------
run first --plan "$plan1" -- --yes --json --no-probe --error-limit 100 --map "$work/first.png"
check "first: exit status 1 (an error)" equals "$status" 1
out="$work/first.out"
check "first: 300 stretches" equals "$(json "$out" 'd["measurements"]["map"]["stretches"]')" 300
check "first: the slowest stretch is the slow place" equals \
    "$(json "$out" 'd["measurements"]["map"]["slowest"][0]["index"]')" "$(stretch_of "$slow")"
check "first: in class <500ms" equals \
    "$(json "$out" 'd["measurements"]["map"]["slowest"][0]["class"]')" "<500ms"
check "first: its slowest read inside the slow place" holds "$out" \
    "$slow <= d['measurements']['map']['slowest'][0]['slowestAt'] < $((slow + 4 * MB))"
check "first: one unreadable stretch, the bad place" equals \
    "$(json "$out" '[s["index"] for s in d["measurements"]["map"]["unreadable"]]')" \
    "[$(stretch_of "$bad")]"
check "first: the surface histogram has reads of 200 ms" holds "$out" \
    "(lambda h: sum(c for c, lo in zip(h['counts'], h['lowerMicros']) if 150000 <= lo <= 200000)) (d['measurements']['surfaceHistogram']) >= 16"
check "first: the map written as PNG" equals "$(head -c 4 "$work/first.png" | tail -c 3)" "PNG"
check "first: the baseline test" equals \
    "$(json "$out" 'd["measurements"]["baseline"]["note"]')" "this test is the unit's baseline"
check "first: the slowed-stretch rule stated" equals \
    "$(json "$out" 'd["measurements"]["baseline"]["threshold"]')" 0.35
check "first: one measurement file" equals "$(find "$measures" -name '*-normal.json' | wc -l)" 1
report1=$(json "$out" 'd["report"]')
check "first: two pictures in the report" equals "$(grep -c pngblip "$report1")" 2

# --- a second test: a stretch of section 0 reads ten times slower ----------
sleep 1
slower=$((52 * stretch))
plan2="$work/second.plan"
write_plan "$plan2" \
    "slow $slow $((slow + 4 * MB)) 200000" \
    "eio  $bad $((bad + 4096)) sticky" \
    "slow $slower $((slower + stretch)) 20000"
run second --plan "$plan2" -- --yes --json --no-probe --error-limit 100
check "second: exit status 1" equals "$status" 1
out="$work/second.out"
check "second: compared with the baseline" equals \
    "$(json "$out" 'd["measurements"]["baseline"]["available"]')" True
check "second: the slower stretch is listed as slowed" holds "$out" \
    "52 in [s['index'] for s in d['measurements']['baseline']['slowed']]"
check "second: at a tenth of its baseline rate or less" holds "$out" \
    "[s for s in d['measurements']['baseline']['slowed'] if s['index'] == 52][0]['baselineRatio'] < 0.1"
report2=$(json "$out" 'd["report"]')
mkdir -p "$work/pictures1" "$work/pictures2"
rtf_pngs "$report1" "$work/pictures1"
rtf_pngs "$report2" "$work/pictures2"
# Red (slowed) pixels of the baseline-change map: the legend's swatch alone
# in the first report, a whole cell more in the second.
red1=$(png_pixels "$work/pictures1/1.png" 214 39 40)
red2=$(png_pixels "$work/pictures2/1.png" 214 39 40)
echo "     red pixels of the baseline-change maps: first $red1, second $red2"
check "second: the slowed stretch painted red on the baseline-change map" \
    test "$red2" -gt $((red1 + 500))

# --- the unit's history ---------------------------------------------------------
cli_lead=(history sdz)
run_cli history -- --json
check "history: exit status 0" equals "$status" 0
check "history: both tests, oldest first" equals \
    "$(json "$work/history.out" '[(t["kind"], t["initialScan"]) for t in d["tests"]]')" \
    "[('normal', True), ('normal', False)]"
check "history: the indices of both" holds "$work/history.out" \
    "all(t['indices']['surfaceLinear'] is not None for t in d['tests'])"
check "history: the second lists its slowed stretches" holds "$work/history.out" \
    "d['tests'][1]['slowedStretches'] >= 1"
run_cli history_text --
check "history: a trend line per index" equals "$(grep -cE '^  (surface|seek) (linear|ratio) ' "$work/history_text.out")" 4

# --- a damaged measurement file: only its own entry is lost -----------------
first_file=$(find "$measures" -name '*-normal.json' | sort | head -1)
head -c 300 "$first_file" >"$work/cut" && cat "$work/cut" >"$first_file"
run_cli damaged -- --json
check "damaged: history still answers" equals "$status" 0
check "damaged: the cut file named with its problem" holds "$work/damaged.out" \
    "d['tests'][0]['problem']"
check "damaged: the other test still listed" equals \
    "$(json "$work/damaged.out" 'd["tests"][1]["initialScan"]')" False
snapshot "$work/before-third"
sleep 1
run third --plan "$plan2" -- --yes --json --no-probe --error-limit 100
check "third: the test runs as the second did" equals "$status" 1
check "third: compared with the running average instead" holds "$work/third.out" \
    "d['measurements']['baseline']['averagedTests'] >= 1"
check "third: the lost baseline said" holds "$work/third.out" \
    "'baseline' in (d['measurements']['baseline']['note'] or '')"
check "third: averages of three scans" equals "$(sample_size .ssa)" 3
rm -rf "$measures"
sleep 1
run fourth --plan "$plan2" -- --yes --json --no-probe --error-limit 100
check "fourth: without any measurement file the test runs" equals "$status" 1
check "fourth: averages of four scans" equals "$(sample_size .ssa)" 4
check "fourth: nothing to compare with, said" holds "$work/fourth.out" \
    "not d['measurements']['baseline']['available'] and d['measurements']['baseline']['note']"

# --- a slow read while another process reads the same loop device ------------
if [ "$(id -u)" = 0 ] && command -v losetup >/dev/null && [ -e /dev/loop-control ]; then
    truncate -s "$G" "$work/loop.img"
    if loop=$(losetup --find --show "$work/loop.img" 2>/dev/null); then
        cleanup_hooks+=("losetup -d '$loop' 2>/dev/null")
        stall=$((400 * MB))
        marker="$work/stalled"
        {
            echo "target $loop"
            echo "stall $stall $((stall + 4096)) 1500000 $marker"
        } >"$work/loop.plan"
        # The second process: once the scan's read waits, it reads 8 MB of
        # the device past the page cache.
        (
            for _ in $(seq 3000); do
                [ -e "$marker" ] && break
                sleep 0.01
            done
            dd if="$loop" of=/dev/null bs=1M count=8 skip=700 iflag=direct 2>/dev/null
        ) &
        reader=$!
        (
            unset TOLVARIN_DEV_DIR TOLVARIN_DISKTOOL
            cli_lead=(cursory "$loop")
            run_cli loop --plan "$work/loop.plan" -- --yes --json --no-seek --log "$work/loop.log"
            echo "$status" >"$work/loop.status"
        )
        wait "$reader"
        out="$work/loop.out"
        check "loop: exit status 0" equals "$(cat "$work/loop.status")" 0
        check "loop: the device's I/O watched" equals \
            "$(json "$out" 'd["measurements"]["doubtful"]["watched"]')" True
        check "loop: the stalled read is doubtful" holds "$out" \
            "[r for r in d['measurements']['doubtful']['readings'] if $stall <= r['offset'] <= $stall + 4096 and r['otherReadSectors'] > 0]"
        check "loop: its stretch marked doubtful" holds "$out" \
            "d['measurements']['map']['slowest'][0]['doubtful']"
        check "loop: said after the section's verdict" has "$work/loop.log" "DOUBTFUL: 1 slow read(s)"
    else
        echo "skip loop device: losetup refused"
    fi
else
    echo "skip loop device: needs root and loop devices"
fi

finish
