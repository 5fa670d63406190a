# Shared by the cursory_*.sh end-to-end scripts (sourced, never run alone).
#
# Sets: build, cli, faultlib (may be empty), work (a fresh directory removed
# at exit), home (TOLVARIN_HOME), and the helpers below. Each script calls
# cursory_setup "$@" first.

G=1048576000 # one scan section: 1000 * 2^20 bytes
failures=0

cursory_setup() {
    build=${1:?usage: $0 BUILD_DIR}
    build=$(cd "$build" && pwd)
    cli="$build/bin/tolvarin-cli"
    if [ ! -x "$cli" ]; then
        echo "skip: $cli is not built"
        exit 77
    fi
    faultlib="$build/lib/libtolvarin_fault.so"
    [ -f "$faultlib" ] || faultlib=
    work=$(mktemp -d "${TMPDIR:-/tmp}/tolvarin-cursory.XXXXXX")
    trap 'cursory_cleanup' EXIT
    home="$work/home"
    mkdir -p "$home/.config/Tolvarin"
    # No service switching (it waits a second each way) unless a test asks.
    cat >"$home/.config/Tolvarin/Tolvarin.conf" <<EOF
[General]
indexingControl=0
disableTimeMachine=0
disablePowerManagement=0
EOF
    export TOLVARIN_HOME="$home"
    unset TOLVARIN_CONSOLE TOLVARIN_DEV_DIR
    # Identifiers are looked up through a disk tool that knows no disk.
    export TOLVARIN_DISKTOOL=/bin/true
}

cursory_cleanup_hooks=()
cursory_cleanup() {
    local hook
    for hook in "${cursory_cleanup_hooks[@]}"; do
        eval "$hook"
    done
    rm -rf "$work"
}

pass() { echo "ok   $1"; }
fail() {
    echo "FAIL $1"
    failures=$((failures + 1))
}
check() { # check NAME COMMAND...: passes when the command succeeds
    local name=$1
    shift
    if "$@"; then pass "$name"; else fail "$name"; fi
}
has() { grep -qF -- "$2" "$1"; }                 # has FILE TEXT
lacks() { ! grep -qF -- "$2" "$1"; }              # lacks FILE TEXT
count() { grep -cF -- "$2" "$1" || true; }        # count FILE TEXT
equals() { [ "$1" = "$2" ] || { echo "     got '$1', wanted '$2'"; false; }; }
json() { # json FILE EXPR: prints a field of a --json summary
    python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(eval(sys.argv[2]))' "$1" "$2"
}

# sparse_image PATH BYTES
sparse_image() {
    rm -f "$1"
    truncate -s "$2" "$1"
}

# write_plan PLAN TARGET LINES...: a fault plan for one target
write_plan() {
    local plan=$1 target=$2
    shift 2
    {
        echo "target $target"
        printf '%s\n' "$@"
    } >"$plan"
}

# run NAME [--plan PLAN] -- ARGS...: runs tolvarin-cli with ARGS; stdout to
# $work/NAME.out, stderr to $work/NAME.err, status in $status, the log path
# (from "Log file:") in $log.
run() {
    local name=$1 plan=
    shift
    if [ "$1" = "--plan" ]; then
        plan=$2
        shift 2
    fi
    [ "$1" = "--" ] && shift
    if [ -n "$plan" ]; then
        LD_PRELOAD="$faultlib" TOLVARIN_FAULT_PLAN="$plan" \
            TOLVARIN_FAULT_REPORT="$work/$name.faults" \
            "$cli" "$@" </dev/null >"$work/$name.out" 2>"$work/$name.err"
    else
        "$cli" "$@" </dev/null >"$work/$name.out" 2>"$work/$name.err"
    fi
    status=$?
    log=$(sed -n 's/^Log file: //p' "$work/$name.err" | tail -1)
    [ -n "$log" ] || log="$work/no-log"
}

# The data directory of the unit store: a cursory test never writes there.
no_data_files() {
    local dir="$home/Library/Application Support/Tolvarin"
    [ ! -d "$dir" ] || [ -z "$(find "$dir" -type f)" ]
}

need_faultlib() {
    if [ -z "$faultlib" ]; then
        echo "skip: the fault library is not built (the sanitizer build leaves it out)"
        exit 77
    fi
}

finish() {
    if [ "$failures" -gt 0 ]; then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "all checks passed"
    exit 0
}
