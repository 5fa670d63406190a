#!/usr/bin/env bash
# The report of a normal test with its pictures (the surface map and the
# baseline-change map) opens in an office suite: converted to PDF, both
# pictures are in it as images, and the designed text is still on its
# first page.
#
# Usage: report_pictures.sh BUILD_DIR. Exit 0 on success, 77 to skip, 1 on failure.
set -u
. "$(dirname "$0")/normal_lib.bash"
normal_setup "$@" 1

. "$(dirname "$0")/office_lib.bash"
need_office pdfimages pdftotext
if [ -z "$(find "$build" -name Pictures.so -print -quit)" ]; then
    echo "skip: the Pictures module is not built (it needs Qt 6)"
    exit 77
fi

run first -- --yes --json --no-probe
check "first: exit status 0" equals "$status" 0
report=$(json "$work/first.out" 'd["report"]')
check "first: two pictures in the report" equals "$(grep -c pngblip "$report")" 2

mkdir -p "$work/pdf"
if ! timeout 300 "$office" -env:UserInstallation="file://$work/profile" --headless \
    --convert-to pdf --outdir "$work/pdf" "$report" >"$work/office.log" 2>&1; then
    sed 's/^/     /' "$work/office.log"
    fail "$office could not convert the report"
    finish
fi
pdf="$work/pdf/$(basename "$report" .rtf).pdf"
check "pdf: written" test -s "$pdf"
pdfimages -list "$pdf" >"$work/images" 2>&1
# Two header lines, then one line per image (its page, size and kind).
check "pdf: both pictures are images in it" equals "$(tail -n +3 "$work/images" | grep -c image)" 2
check "pdf: the pictures are drawn large enough to read" \
    awk 'NR > 2 && ($4 < 600 || $5 < 200) { bad = 1 } END { exit bad }' "$work/images"
pdftotext -f 1 -l 1 -enc UTF-8 "$pdf" "$work/page1.txt"
check "pdf: the designed text on the first page" has "$work/page1.txt" "This is an initial scan"
check "pdf: no placeholder left" bash -c "! grep -Eq '<[A-Z0-9]+>' '$work/page1.txt'"

finish
