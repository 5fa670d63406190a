#!/usr/bin/env bash
# Cursory tests of faulty units through tolvarin-cli with the fault library:
# a failing range fails its section (exit 1), a slow range gives an
# irregularity with its response time without taking that time, probing
# sweeps the rest of a failing section, and repair rewrites exactly the
# unreadable sectors with zeros and verifies them.
#
# Usage: cursory_faults.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/cursory_lib.bash"
cursory_setup "$@"
need_faultlib

image="$work/unit.img"
sparse_image "$image" $((3 * G))
bad=$((G + 300 * 1048576))       # in section 1
slow=$((2 * G + 500 * 1048576))  # in section 2
plan="$work/unit.plan"
write_plan "$plan" "$image" \
    "eio $bad $((bad + 4096))" \
    "slow $slow $((slow + 4096)) 700000"

# --- a failing and a slow range ----------------------------------------------
started=$(date +%s)
run faults --plan "$plan" -- cursory "$image" --yes --json --no-probe
elapsed=$(($(date +%s) - started))
check "faults: exit status 1" equals "$status" 1
check "faults: the failing section" \
    has "$log" "   SCAN FAILED - Start Byte: $G End Byte: $((2 * G - 1)) Index: 1"
check "faults: where the bad data is" has "$log" "   BAD DATA DETECTED BETWEEN $bad AND"
check "faults: failed list" has "$log" "The following scan sections ***FAILED*** surface scanning tests:"
check "faults: failure count" \
    has "$log" "THERE WERE A TOTAL OF 3 SCAN SECTIONS EVALUATED, AND 1 HAD FAILURES."
check "faults: the irregularity and its time" \
    has "$log" "Irregularity at byte $slow, response time 0.7"
check "faults: the slow section passes with irregularities" \
    has "$log" "   Scan Passed(I) - Start Byte: $((2 * G)) End Byte: $((3 * G - 1)) Index: 2"
check "faults: the seek scan still runs" equals "$(count "$log" " Seek Start: ")" 435
check "faults: message 1" has "$work/faults.err" "=== Message 1: Test Completed. ==="
check "faults: json result" equals "$(json "$work/faults.out" 'd["result"]')" failed
check "faults: json surface errors" \
    equals "$(json "$work/faults.out" 'd["counts"]["surfaceErrors"]')" 1
check "faults: json irregularities" \
    equals "$(json "$work/faults.out" 'd["counts"]["surfaceIrregularities"]')" 1
check "faults: json failed section" \
    equals "$(json "$work/faults.out" '[s["index"] for s in d["failedSections"]]')" "[1]"
check "faults: a 0.7 s read takes no real time" test "$elapsed" -lt 30
check "faults: the reads hit the plan" has "$work/faults.faults" "eio="
check "faults: no data files" no_data_files

# --- probing the rest of a failing section -------------------------------------
run probe --plan "$plan" -- cursory "$image" --yes --probe --no-seek
check "probe: exit status 1" equals "$status" 1
check "probe: sweep begins" has "$log" "   ***** PROBING SCAN SECTION *****"
check "probe: sweep steps" has "$log" "   Probing sweep section at byte: $((bad + 13107200))"
check "probe: failure rate" has "$log" "   Failure rate in this sweep section: "
check "probe: sweep ends" has "$log" "   ***** PROBING COMPLETE *****"

# --- repair on a writable image ----------------------------------------------------
# One short last section, with a pattern around two bad blocks of 4 KiB (the
# largest unit a device reads or writes here): a repair may zero those two
# blocks and nothing else, not the good block between them.
rimage="$work/repair.img"
sparse_image "$rimage" $((G + 4 * 1048576))
base=$((G + 2 * 1048576))
python3 - "$rimage" "$base" <<'EOF'
import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(int(sys.argv[2]) - 65536)
    f.write(b"\xa5" * 131072)
EOF
rplan="$work/repair.plan"
write_plan "$rplan" "$rimage" \
    "eio $base $((base + 4096))" \
    "eio $((base + 8192)) $((base + 12288))"
run repair --plan "$rplan" -- cursory "$rimage" --yes --repair --no-seek --json
check "repair: message 10 asked" \
    has "$work/repair.err" "=== Message 10: WARNING!! YOU HAVE CONFIGURED THIS TEST TO ATTEMPT A DISK REPAIR!! ==="
check "repair: rewrites at both places" has "$log" "ATTEMPTING REPAIR AT: $((base + 8192))"
check "repair: verified" has "$log" "THIS UNIT APPEARS TO HAVE BEEN SUCCESSFULLY REPAIRED."
check "repair: healed exactly the two blocks" has "$work/repair.faults" "healed_bytes=8192"
check "repair: zeros where the bad blocks were, the pattern elsewhere" \
    python3 - "$rimage" "$base" <<'EOF'
import sys
base = int(sys.argv[2])
with open(sys.argv[1], "rb") as f:
    f.seek(base - 65536)
    data = f.read(131072)
zero = set()
for start in (base, base + 8192):
    zero.update(range(start - (base - 65536), start - (base - 65536) + 4096))
ok = all((data[i] == 0) == (i in zero) for i in range(len(data)))
sys.exit(0 if ok else 1)
EOF

finish
