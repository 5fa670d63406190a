# Shared by the end-to-end scripts: those that run tolvarin-cli through
# cursory_lib.bash and normal_lib.bash, and faultlib.sh for its checks
# (sourced, never run alone).
#
# e2e_setup BUILD_DIR KIND sets: build, cli, faultlib (empty when not built),
# work (a fresh directory removed at exit, after the commands queued in
# cleanup_hooks), and home (TOLVARIN_HOME) with the service switching left
# alone. Skips (77) when tolvarin-cli is not built.

G=1048576000 # one scan section: 1000 * 2^20 bytes
failures=0

e2e_setup() {
    build=${1:?usage: $0 BUILD_DIR}
    build=$(cd "$build" && pwd)
    cli="$build/bin/tolvarin-cli"
    if [ ! -x "$cli" ]; then
        echo "skip: $cli is not built"
        exit 77
    fi
    faultlib="$build/lib/libtolvarin_fault.so"
    [ -f "$faultlib" ] || faultlib=
    work=$(mktemp -d "${TMPDIR:-/tmp}/tolvarin-$2.XXXXXX")
    trap 'e2e_cleanup' EXIT
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
}

cleanup_hooks=()
e2e_cleanup() {
    local hook
    for hook in "${cleanup_hooks[@]}"; do
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
has() { grep -qF -- "$2" "$1"; }           # has FILE TEXT
lacks() { ! grep -qF -- "$2" "$1"; }        # lacks FILE TEXT
count() { grep -cF -- "$2" "$1" || true; }  # count FILE TEXT
equals() { [ "$1" = "$2" ] || {
    echo "     got '$1', wanted '$2'"
    false
}; }
json() { # json FILE EXPR: prints a field of a --json summary
    python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(eval(sys.argv[2]))' "$1" "$2"
}

# run_cli NAME [--plan PLAN] [--] ARGS...: runs tolvarin-cli with the words
# of cli_lead and then ARGS, standard input closed, under the fault library
# with PLAN when one is given (its report in $work/NAME.faults); stdout to
# $work/NAME.out, stderr to $work/NAME.err, the status in $status.
cli_lead=()
run_cli() {
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
            "$cli" "${cli_lead[@]}" "$@" </dev/null >"$work/$name.out" 2>"$work/$name.err"
    else
        "$cli" "${cli_lead[@]}" "$@" </dev/null >"$work/$name.out" 2>"$work/$name.err"
    fi
    status=$?
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
