# The demo unit, shared by scripts/demo.sh (tolvarin-cli) and scripts/gui.sh
# (the window); sourced, never run alone.

G=1048576000 # one scan section

# demo_preferences HOME: preferences that switch no system service.
demo_preferences() {
    mkdir -p "$1/.config/Tolvarin"
    cat >"$1/.config/Tolvarin/Tolvarin.conf" <<EOF
[General]
indexingControl=0
disableTimeMachine=0
disablePowerManagement=0
probeKey=1
EOF
}

# demo_unit IMAGE PLAN: a 4.2 GB image file (sparse: it takes no room) and the
# fault plan that puts two unreadable and three slow places in it; the slow
# reads take their time only on the clock the test sees.
demo_unit() {
    local image=$1 plan=$2
    rm -f "$image"
    truncate -s $((4 * G + 200 * 1048576)) "$image"
    cat >"$plan" <<EOF
# The demo unit: what goes wrong where.
target $image
eio   $((G + 123 * 1048576))  +4096
slow  $((2 * G + 10 * 1048576)) +4096   750000
slow  $((2 * G + 640 * 1048576)) +4096  1300000
eio   $((3 * G + 900 * 1048576)) +4096
slow  $((4 * G + 50 * 1048576)) +4096   900000
EOF
    # The plan format wants START and END; write the ends out.
    python3 - "$plan" <<'PY'
import sys
lines = []
for line in open(sys.argv[1]):
    words = line.split()
    if len(words) >= 3 and words[2].startswith("+"):
        words[2] = str(int(words[1]) + int(words[2][1:]))
        line = " ".join(words) + "\n"
    lines.append(line)
open(sys.argv[1], "w").write("".join(lines))
PY
}
