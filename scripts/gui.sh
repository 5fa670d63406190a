#!/usr/bin/env bash
# Opens the window on the demo unit (scripts/demo_unit.bash): the drive table
# lists it as the disk "demo0" through the image disk tool, and the fault
# library puts its unreadable and slow places in. Select it and run a cursory
# or a normal test; no root rights are needed and no real disk is touched.
#
# Usage: scripts/gui.sh [BUILD_DIR]. Everything stays in BUILD_DIR/demo-gui
# (the logs and reports in BUILD_DIR/demo-gui/home/Documents).
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
gui="$build/bin/tolvarin"
faultlib="$build/lib/libtolvarin_fault.so"
scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ ! -x "$gui" ]; then
    echo "gui: $gui is not built (run 'make build' first)" >&2
    exit 2
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "gui: there is no desktop session here to open the window in" >&2
    echo "     (make run shows the same demo unit through tolvarin-cli)" >&2
    exit 2
fi

demo="$build/demo-gui"
home="$demo/home"
mkdir -p "$demo/dev"
. "$scripts/demo_unit.bash"
# The stored results of earlier runs stay, so that a second normal test is
# compared with the first; the unit itself is made afresh.
[ -f "$home/.config/Tolvarin/Tolvarin.conf" ] || demo_preferences "$home"
demo_unit "$demo/dev/demo0" "$demo/demo0.plan"

export TOLVARIN_HOME="$home" TOLVARIN_DEV_DIR="$demo/dev"
export TOLVARIN_DISKTOOL="$scripts/image-disktool.sh" TOLVARIN_WITHOUT_ROOT=1
if [ -f "$faultlib" ]; then
    export LD_PRELOAD="$faultlib" TOLVARIN_FAULT_PLAN="$demo/demo0.plan"
else
    echo "(the fault library is not built here: the demo unit reads clean)"
fi
echo "Demo unit: $demo/dev/demo0, listed as demo0"
exec "$gui"
