#!/usr/bin/env bash
# A cursory test of a clean unit through tolvarin-cli: an image file, and a
# loop device over it where the machine allows. The log must show the exact
# size, every section passed, the surface indices, all 435 seek pairs and the
# seek verdict; the test ends with message 1, exit 0 and a --json summary.
#
# Usage: cursory_clean.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/cursory_lib.bash"
cursory_setup "$@"

# Not a whole number of sections, so the last one is short.
size=$((3 * G + 7 * 1048576))
image="$work/unit.img"
sparse_image "$image" "$size"

check_clean_log() { # NAME: the log of a clean unit of $size bytes
    local name=$1
    check "$name: exit status 0" equals "$status" 0
    check "$name: exact detected size" has "$log" " Detected size: $size"
    check "$name: one pass line per section" equals "$(count "$log" "   Scan passed - Start Byte")" 4
    check "$name: the last section ends at the last byte" \
        has "$log" "Scan passed - Start Byte: $((3 * G)) End Byte: $((size - 1)) Index: 3"
    check "$name: pass list" has "$log" "The following subsections PASSED surface scanning tests:"
    check "$name: no failures" has "$log" "THERE WERE NO FAILURES DETECTED IN THIS TEST."
    check "$name: surface linear RPI" has "$log" "   Surface Scan Linear RPI: "
    check "$name: surface ratio RPI" has "$log" "   Surface Scan Ratio RPI: "
    check "$name: 435 seek pairs" equals "$(count "$log" " Seek Start: ")" 435
    check "$name: seek verdict" has "$log" "RESULTS: Seek scan *** PASSED ***"
    check "$name: message 1" has "$work/$name.err" "=== Message 1: Test Completed. ==="
    check "$name: no data files" no_data_files
}

run image -- cursory "$image" --yes --json
check_clean_log image
check "image: json passed" equals "$(json "$work/image.out" 'd["result"]')" passed
check "image: json sections" equals "$(json "$work/image.out" 'd["sections"]')" 4
check "image: json size" equals "$(json "$work/image.out" 'd["detectedSize"]')" "$size"
check "image: json counts" \
    equals "$(json "$work/image.out" 'sum(d["counts"].values())')" 0
check "image: json seek RPI" \
    equals "$(json "$work/image.out" 'd["rpis"]["seekLinear"] is not None')" True
check "image: log in Documents" has "$work/image.err" "Log file: $home/Documents/Log"

# --log names the log; the answers may be given one by one.
run named -- cursory "$image" --no-seek --answer 0=1 --log "$work/named.log"
check "named: exit status 0" equals "$status" 0
check "named: the log asked for" equals "$log" "$work/named.log"
check "named: no seek scan" lacks "$log" "START OF SEEK SCAN TEST"

# A loop device over the image, read with direct I/O.
if [ "$(id -u)" = 0 ] && command -v losetup >/dev/null; then
    if loop=$(losetup --find --show --read-only "$image" 2>/dev/null); then
        cleanup_hooks+=("losetup -d '$loop' 2>/dev/null")
        run loop -- cursory "$loop" --yes
        check_clean_log loop
        check "loop: the device tested" has "$log" "Raw device designation: $loop"
    else
        echo "skip loop device: losetup refused"
    fi
else
    echo "skip loop device: needs root and losetup"
fi

finish
