# Shared by the cursory_*.sh end-to-end scripts (sourced, never run alone).
#
# Sets: build, cli, faultlib (may be empty), work (a fresh directory removed
# at exit), home (TOLVARIN_HOME), and the helpers below and in
# common_lib.bash. Each script calls cursory_setup "$@" first.

. "$(dirname "${BASH_SOURCE[0]}")/common_lib.bash"

cursory_setup() {
    e2e_setup "${1:-}" cursory
    unset TOLVARIN_CONSOLE TOLVARIN_DEV_DIR
    # Identifiers are looked up through a disk tool that knows no disk.
    export TOLVARIN_DISKTOOL=/bin/true
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

# run NAME [--plan PLAN] -- ARGS...: runs tolvarin-cli with ARGS (run_cli);
# the log path (from "Log file:") in $log.
run() {
    run_cli "$@"
    log=$(sed -n 's/^Log file: //p' "$work/$1.err" | tail -1)
    [ -n "$log" ] || log="$work/no-log"
}

# The data directory of the unit store: a cursory test never writes there.
no_data_files() { # hidden lock files are no data files
    local dir="$home/Library/Application Support/Tolvarin"
    [ ! -d "$dir" ] || [ -z "$(find "$dir" -type f ! -name '.*')" ]
}
