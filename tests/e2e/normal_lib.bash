# Shared by the normal_*.sh and crash_safety.sh end-to-end scripts (sourced,
# never run alone).
#
# normal_setup BUILD_DIR [SECTIONS] makes: a fresh $work (removed at exit),
# $home (TOLVARIN_HOME) with the services left alone, a sparse image of
# SECTIONS scan sections (default 3) as the device "sdz" in $work/dev
# (TOLVARIN_DEV_DIR), and a disk tool that plays a recorded listing and
# report of that blank SATA disk (TOLVARIN_DISKTOOL). Sets build, cli,
# faultlib (empty when not built), data (the data directory), image, size.

. "$(dirname "${BASH_SOURCE[0]}")/common_lib.bash"

normal_setup() {
    if ! command -v python3 >/dev/null; then
        echo "skip: python3 is missing"
        exit 77
    fi
    e2e_setup "${1:-}" normal
    local sections=${2:-3}
    data="$home/Library/Application Support/Tolvarin"
    mkdir -p "$work/dev"
    size=$((sections * G))
    image="$work/dev/sdz"
    truncate -s "$size" "$image"
    local gb
    gb=$(awk -v s="$size" 'BEGIN { printf "%.1f GB", s / 1e9 }')
    cat >"$work/disktool" <<EOF
#!/bin/sh
# A blank SATA disk "sdz" of $size bytes, as the disk tool lists it.
case "\$1" in
list)
    printf '%s\n' '/dev/sdz' \\
        '   #:                       TYPE NAME                         SIZE  IDENTIFIER' \\
        '   0:                                                      *$gb  sdz'
    ;;
info)
    case "\$2" in
    sdz | */sdz)
        printf '%s\n' \\
            '   Device Identifier:        sdz' \\
            '   SMART Status:             Not Supported' \\
            '   Device Node:              /dev/sdz' \\
            '   Whole:                    Yes' \\
            '   Media Type:               Generic' \\
            '   Protocol:                 SATA' \\
            '   UUID:                     0x5000c500deadbeef' \\
            '   Total Size:               $gb ($size Bytes)' \\
            '   Ejectable:                No' \\
            '   Internal:                 Yes'
        ;;
    esac
    ;;
esac
EOF
    chmod +x "$work/disktool"
    export TOLVARIN_DEV_DIR="$work/dev" TOLVARIN_DISKTOOL="$work/disktool"
    # Message 8's "View Now" must not open a viewer on a desktop session.
    unset TOLVARIN_CONSOLE TOLVARIN_RESOURCES DISPLAY WAYLAND_DISPLAY
}

differ() { ! cmp -s "$1" "$2"; } # differ FILE FILE

# run NAME [--plan PLAN] -- ARGS...: runs tolvarin-cli normal sdz ARGS with
# the log $work/NAME.log (run_cli), the log path in $log.
run() {
    log="$work/$1.log"
    cli_lead=(normal sdz --log "$log")
    run_cli "$@"
}

# write_plan PLAN LINES...: a fault plan for the unit's image
write_plan() {
    local plan=$1
    shift
    {
        echo "target $image"
        printf '%s\n' "$@"
    } >"$plan"
}

# The unit's file prefix (its drive header's name), empty before its first test.
# The first unit made (M01) when a script adds others, whatever the directory order.
prefix() {
    local hdr
    hdr=$(find "$data" -maxdepth 1 -name 'M*.hdr' 2>/dev/null | sort | head -1)
    [ -n "$hdr" ] && basename "$hdr" .hdr
}
unit_file() { echo "$data/$(prefix)$1"; } # unit_file SUFFIX

# The suffixes of the unit's files present, in catalogue order, as one line.
unit_files() {
    local p s out=
    p=$(prefix)
    for s in .hdr .siz .ssx .skx .iss .ssa .isk .ska .css .pss .csk .psk .sst .skt .dia; do
        [ -n "$p" ] && [ -e "$data/$p$s" ] && out="$out$s "
    done
    echo "${out% }"
}
# Every file of the unit and its backups, counted.
unit_file_count() {
    local p
    p=$(prefix)
    [ -n "$p" ] || {
        echo 0
        return
    }
    find "$data" -name "$p.*" | wc -l
}
backups() { find "$data/prev" -type f 2>/dev/null | wc -l; } # backup copies and records

sample_size() { sed -n 's/^SMPLSZ: //p' "$(unit_file "$1")"; } # sample_size .ssa
records() { grep -c '^I:' "$(unit_file "$1")" || true; }    # records .iss
complete() { grep -q -e '^Surface Scan Complete' -e '^Seek Scan Complete' "$(unit_file "$1")"; }

# The message texts as the terminal answerer prints them.
asked() { has "$work/$1.err" "=== Message $2: "; } # asked NAME N

# snapshot DIR: a copy of the unit's files (for byte-for-byte comparisons)
snapshot() {
    rm -rf "$1"
    mkdir -p "$1"
    find "$data" -maxdepth 1 -type f -name "$(prefix).*" -exec cp -p {} "$1/" \;
}
same_files() { # same_files SNAPSHOT: the unit's files are byte for byte those of SNAPSHOT
    local now="$work/.now"
    snapshot "$now"
    diff -r "$1" "$now" >"$work/.diff" 2>&1 || {
        sed 's/^/     /' "$work/.diff" | head -5
        false
    }
}
