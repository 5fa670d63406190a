#!/usr/bin/env bash
# End-to-end check of the test report: the sample reports the unit suite
# writes (an initial test, the longest comparative one, a failed one) must
# open in an office suite, convert to a one-page PDF and read back with
# their verdicts, results and the unit's name.
#
# Usage: report_libreoffice.sh BUILD_DIR. Exit 0 on success, 77 to skip,
# 1 on failure.
set -u

build=${1:?usage: report_libreoffice.sh BUILD_DIR}
tests="$(cd "$build" && pwd)/bin/tolvarin_tests"
if [ ! -x "$tests" ]; then
    echo "skip: $tests is not built"
    exit 77
fi
. "$(dirname "$0")/office_lib.bash"
need_office pdftotext pdfinfo

work=$(mktemp -d "${TMPDIR:-/tmp}/tolvarin-report.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/samples" "$work/pdf"

failures=0
pass() { echo "ok   $1"; }
fail() {
    echo "FAIL $1"
    failures=$((failures + 1))
}

if ! REPORT_SAMPLE_OUT="$work/samples" "$tests" --gtest_filter='ReportSample.*' \
    >"$work/gtest.log" 2>&1; then
    cat "$work/gtest.log"
    echo "FAIL the sample reports were not written"
    exit 1
fi

# A private profile, so that the conversion neither reads nor changes the
# profile of whoever runs the check.
if ! timeout 300 "$office" -env:UserInstallation="file://$work/profile" --headless \
    --convert-to pdf --outdir "$work/pdf" "$work"/samples/*.rtf >"$work/office.log" 2>&1; then
    cat "$work/office.log"
    echo "FAIL $office could not convert the reports"
    exit 1
fi

# check SAMPLE PHRASE...: the PDF of SAMPLE is one page and holds every
# phrase (line breaks and runs of blanks count as one blank).
check() {
    local sample=$1
    shift
    local pdf="$work/pdf/$sample.pdf"
    if [ ! -s "$pdf" ]; then
        fail "$sample: no PDF"
        return
    fi
    local pages
    pages=$(pdfinfo "$pdf" | awk '/^Pages:/ {print $2}')
    if [ "$pages" = "1" ]; then pass "$sample: one page"; else fail "$sample: $pages pages"; fi
    local text
    text=$(pdftotext -enc UTF-8 "$pdf" - | tr -s '[:space:]' ' ')
    if grep -Eq '<[A-Z0-9]+>' <<<"$text"; then
        fail "$sample: a placeholder was left: $(grep -Eo '<[A-Z0-9]+>' <<<"$text" | head -1)"
    fi
    local phrase
    for phrase in "$@"; do
        if grep -Fq -- "$phrase" <<<"$text"; then
            pass "$sample: $phrase"
        else
            fail "$sample: missing \"$phrase\""
        fi
    done
}

check initial \
    "Tolvarin Test Report" \
    "Données {backup} , Volume ID: sdb2" \
    "Overall result PASSED" \
    "21.337000" \
    "This is an initial scan and the values for the initial and current RPI indices will be identical." \
    "The sizing scan completed without any errors." \
    "The initial surface scan test passed. The initial linear surface scan RPI has an acceptable value." \
    "The initial surface scan ratio RPI has an acceptable value." \
    "The seek scan test passed. The seek scan linear RPI has an acceptable value." \
    "The seek scan ratio RPI is within acceptable limits." \
    "There were no irregularities detected in this test."

check comparative \
    "PASSED WITH IRREGULARITIES" \
    "PASSED, BUT HAD ERRORS OR IRREGULARITIES" \
    "This is a comparative scan, and the values of the current test data will be compared" \
    "The sizing scan completed with errors." \
    "with the RPI associated with the initial scan being abnormally high." \
    "The surface scan ratio RPI for the current test is acceptable, however the surface scan ratio RPI for the initial scan is abnormally high." \
    "The seek scan ratio RPIs for both the current and initial scans are abnormally high." \
    "Irregularities were detected in this test."

check failed \
    "Overall result FAILED" \
    "The surface scan test failed and" \
    "a marked increase between the current linear surface scan RPI over the initial surface scan linear RPI." \
    "The seek scan test failed, and both the initial and current seek scan linear RPI values are comparable." \
    "There were no irregularities detected in this test."

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed; the PDFs are in $work/pdf (kept)"
    trap - EXIT
    exit 1
fi
echo "all report checks passed"
