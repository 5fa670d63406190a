#!/usr/bin/env bash
# Fuzzes the readers of the data files with libFuzzer, under AddressSanitizer
# and UndefinedBehaviorSanitizer:
#
#   scripts/fuzz.sh TARGET SECONDS
#
# TARGET is one of header, scan_file, average_file, index_file, siz_file, dia_file,
# sidecar (a test's measurement file), or
# all (each in turn, SECONDS apiece). The first run configures a clang tree in
# build-fuzz (TOLVARIN_FUZZ_BUILD overrides it); new inputs go to
# build-fuzz/corpus/TARGET, seeded from fuzz/corpus/TARGET, and a crashing
# input to build-fuzz/artifacts/. The status is non-zero when a target
# crashed or a sanitizer reported.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TOLVARIN_FUZZ_BUILD:-$root/build-fuzz}"
all_targets="header scan_file average_file index_file siz_file dia_file sidecar"

usage() {
    echo "usage: $0 {header|scan_file|average_file|index_file|siz_file|dia_file|sidecar|all} SECONDS" >&2
    exit 2
}

[ $# -eq 2 ] || usage
target="$1"
seconds="$2"
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || usage
if [ "$target" = all ]; then
    targets="$all_targets"
elif [[ " $all_targets " == *" $target "* ]]; then
    targets="$target"
else
    usage
fi

if ! command -v clang++ >/dev/null 2>&1; then
    echo "$0: clang++ is needed for libFuzzer" >&2
    exit 2
fi

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTOLVARIN_FUZZ=ON -DTOLVARIN_SANITIZE=ON -DTOLVARIN_GUI=OFF
fi
build_targets=()
for t in $targets; do
    build_targets+=(--target "fuzz_$t")
done
cmake --build "$build" -j "${JOBS:-1}" "${build_targets[@]}"

mkdir -p "$build/artifacts"
# Scratch files of the targets that read through a path; in memory where the
# machine has some.
scratch="$(mktemp -d /dev/shm/tolvarin-fuzz.XXXXXX 2>/dev/null || mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
for t in $targets; do
    corpus="$build/corpus/$t"
    mkdir -p "$corpus"
    echo "== fuzz_$t for $seconds s"
    TMPDIR="$scratch" "$build/bin/fuzz_$t" "$corpus" "$root/fuzz/corpus/$t" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-"
done
