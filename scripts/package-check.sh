#!/usr/bin/env bash
# Builds the Debian package from a release build tree, installs it with apt,
# runs the installed programs from /usr/bin with the installed resources (no
# build tree on the path), checks the package, the menu entry, the AppStream
# data and the manual pages with their validators, then removes the package
# and checks that none of its files is left.
#
# Usage: scripts/package-check.sh [BUILD_DIR]   (default: build; needs root)
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
    echo "package-check: skipped: installing a package needs root"
    exit 0
fi

started=$SECONDS
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=$(mktemp -d)
failures=0
installed=no

cleanup() {
    if [ "$installed" = yes ]; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tolvarin >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

pass() { echo "ok   $1"; }
fail() {
    echo "FAIL $1" >&2
    failures=$((failures + 1))
}
# check NAME COMMAND...: runs COMMAND, its output shown only when it fails.
check() {
    local name=$1
    shift
    if "$@" >"$work/out" 2>&1; then
        pass "$name"
    else
        fail "$name"
        sed 's/^/     /' "$work/out" >&2
    fi
}
# quiet NAME COMMAND...: passes only when COMMAND succeeds and prints nothing.
quiet() {
    local name=$1
    shift
    if "$@" >"$work/out" 2>&1 && [ ! -s "$work/out" ]; then
        pass "$name"
    else
        fail "$name"
        sed 's/^/     /' "$work/out" >&2
    fi
}

echo "== building the package from $build"
rm -f "$build"/tolvarin_*.deb
cmake --build "$build" --target package >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    exit 1
}
cd "$build"
debs=(tolvarin_*.deb)
deb=$build/${debs[0]}
echo "package: $deb"

echo "== installing it with apt"
install_package() { DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./tolvarin_*.deb; }
installed=yes
if ! install_package >"$work/apt.log" 2>&1; then
    # A machine whose package lists are missing or old.
    apt-get update -qq
    install_package >"$work/apt.log" 2>&1 || {
        cat "$work/apt.log" >&2
        exit 1
    }
fi
dpkg -L tolvarin >"$work/files"
version=$(dpkg-query -W -f='${Version}' tolvarin)

echo "== the installed programs, outside the build tree"
cd "$work"
home=$work/home
mkdir -p "$home/.config/Tolvarin"
# The check switches no system service of the machine it runs on.
cat >"$home/.config/Tolvarin/Tolvarin.conf" <<EOF
[General]
indexingControl=0
disableTimeMachine=0
disablePowerManagement=0
EOF
installed_env=(env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$home" TOLVARIN_HOME="$home")
run() { "${installed_env[@]}" "$@"; }

check "tolvarin-cli comes from /usr/bin" test "$(run sh -c 'command -v tolvarin-cli')" = /usr/bin/tolvarin-cli
check "tolvarin-cli version" grep -qx "tolvarin-cli $version" <(run tolvarin-cli version)
check "tolvarin-cli list" run tolvarin-cli list
check "tolvarin --version, without a display or root rights" \
    grep -qx "tolvarin $version" <(run tolvarin --version)
check "tolvarin --help" grep -q "^usage: tolvarin" <(run tolvarin --help)

image=$work/unit.img
truncate -s $((64 * 1048576)) "$image"
cursory() {
    run tolvarin-cli cursory "$image" --yes --json </dev/null >"$work/cursory.json" 2>"$work/cursory.err"
}
check "a cursory test of an image unit passes" cursory
check "its summary says passed" grep -q '"result": *"passed"' "$work/cursory.json"
log=$(sed -n 's/^Log file: //p' "$work/cursory.err" | tail -1)
check "its log is in the Documents folder" test -f "$log" -a "${log#"$home"/Documents/}" != "$log"
check "its log has the seek verdict" grep -q "RESULTS: Seek scan \*\*\* PASSED \*\*\*" "$log"
# A normal test writes a report from the installed template.
normal() {
    run tolvarin-cli normal "$image" --yes --json </dev/null >"$work/normal.json" 2>"$work/normal.err"
}
check "a first normal test of the image unit passes" normal
report=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["report"] or "")' \
    "$work/normal.json" 2>/dev/null || true)
check "it writes its report from the installed template" test -s "$report"

echo "== validators"
lintian --fail-on error "$deb" >"$work/lintian" 2>&1 || lintian_status=$?
grep -v "running with root privileges" "$work/lintian" | sed 's/^/     /' || true
if [ "${lintian_status:-0}" -eq 0 ]; then pass "lintian: no errors"; else fail "lintian: errors"; fi
quiet "desktop-file-validate" desktop-file-validate /usr/share/applications/org.tolvarin.tolvarin.desktop
check "appstreamcli validate" appstreamcli validate --no-net /usr/share/metainfo/org.tolvarin.tolvarin.metainfo.xml
check "the polkit action allows /usr/bin/tolvarin with a display" python3 - <<'EOF'
import xml.etree.ElementTree as ET
action = ET.parse("/usr/share/polkit-1/actions/org.tolvarin.tolvarin.policy").find(
    "action[@id='org.tolvarin.tolvarin.run']")
notes = {a.get("key"): a.text for a in action.findall("annotate")}
assert notes["org.freedesktop.policykit.exec.path"] == "/usr/bin/tolvarin", notes
assert notes["org.freedesktop.policykit.exec.allow_gui"] == "true", notes
EOF
man_warnings() { MANWIDTH=80 man --warnings -l "$1" 2>&1 >/dev/null; }
for page in $(grep '/man/man1/' "$work/files"); do
    name=$(basename "$page" .1.gz)
    quiet "man -l $name: no warnings" man_warnings "$page"
    check "man $name finds the page" test "$(man -w "$name")" = "$page"
done
completion() {
    bash -c '. /usr/share/bash-completion/completions/tolvarin-cli
        offers() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _tolvarin_cli; echo " ${COMPREPLY[*]} "; }
        [ "$(offers tolvarin-cli cu)" = " cursory " ] || exit 1
        [ "$(offers tolvarin-cli normal --m)" = " --map " ] || exit 1
        units=$(offers tolvarin-cli history "")
        for disk in $(lsblk -ndo NAME); do
            [[ $units == *" $disk "* ]] || { echo "$disk not offered: $units"; exit 1; }
        done'
}
check "bash completion: commands, options, units" completion

echo "== removing it"
check "apt-get purge" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tolvarin
installed=no
left=()
while IFS= read -r path; do
    [ "$path" = /. ] && continue
    if [ -d "$path" ] && [ ! -L "$path" ]; then
        # Directories other packages share stay.
        dpkg -S "$path" >/dev/null 2>&1 || left+=("$path")
    elif [ -e "$path" ] || [ -L "$path" ]; then
        left+=("$path")
    fi
done <"$work/files"
if [ ${#left[@]} -eq 0 ]; then
    pass "no file of the package is left ($(wc -l <"$work/files") paths)"
else
    fail "left after removal: ${left[*]}"
fi

echo "package-check: $((SECONDS - started)) s, $failures failure(s)"
[ "$failures" -eq 0 ]
