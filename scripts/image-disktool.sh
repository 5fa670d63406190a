#!/bin/sh
# A disk tool for image files, in the format of the Linux disk tool adapter:
# every regular file in TOLVARIN_DEV_DIR is listed as a blank SATA disk of
# its size, named after the file. The demo (make gui) and the window's tests
# list their image units with it:
#
#   TOLVARIN_DEV_DIR=DIR TOLVARIN_DISKTOOL=scripts/image-disktool.sh tolvarin
dir=${TOLVARIN_DEV_DIR:?TOLVARIN_DEV_DIR names the folder of the images}

size_text() { # BYTES -> "4.4 GB", "134.2 MB"
    awk -v s="$1" 'BEGIN {
        if (s >= 1e12) printf "%.1f TB", s / 1e12
        else if (s >= 1e9) printf "%.1f GB", s / 1e9
        else printf "%.1f MB", s / 1e6 }'
}

case "$1" in
list)
    for f in "$dir"/*; do
        [ -f "$f" ] || continue
        name=${f##*/}
        printf '%s\n' "/dev/$name" \
            '   #:                       TYPE NAME                         SIZE  IDENTIFIER' \
            "   0:                                                      *$(size_text "$(stat -c %s "$f")")  $name" \
            ''
    done
    ;;
info)
    name=${2##*/}
    f="$dir/$name"
    [ -f "$f" ] || exit 0
    size=$(stat -c %s "$f")
    printf '%s\n' \
        "   Device Identifier:        $name" \
        '   SMART Status:             Not Supported' \
        "   Device Node:              /dev/$name" \
        '   Whole:                    Yes' \
        '   Media Type:               Generic' \
        '   Protocol:                 SATA' \
        "   UUID:                     image-$name" \
        "   Total Size:               $(size_text "$size") ($size Bytes)" \
        '   Ejectable:                No' \
        '   Internal:                 Yes'
    ;;
esac
exit 0
