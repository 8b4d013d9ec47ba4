#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ (clang++, ASan and UBSan) and
# runs each for SECONDS (default 30), two at a time. New inputs go to a work
# folder, not into the tree; a crash leaves its input there and fails the run.
#   bash scripts/run-fuzz.sh            # CI: 30 s per target
#   bash scripts/run-fuzz.sh 14400      # four hours per target
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=build-fuzz

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DLOADER_FUZZ=ON -DBUILD_TESTING=OFF -DLOADER_WITH_QT=OFF ${LOADER_CMAKE_ARGS:-} >/dev/null
mapfile -t targets < "$build/fuzz-targets.txt"
targets=("${targets[@]/#/fuzz_}")
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
run_one() { # target seconds work
    local name=${1#fuzz_} dir="$3/$1"
    mkdir -p "$dir/corpus"
    if "$build/bin/$1" -max_total_time="$2" -print_final_stats=1 -artifact_prefix="$dir/" \
        "$dir/corpus" "fuzz/corpus/$name" >"$dir/log" 2>&1; then
        echo "$1: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$dir/log" | grep -o '[0-9]*$') runs, no failure"
    else
        echo "$1: FAILED"; tail -40 "$dir/log"; ls "$dir"/crash-* "$dir"/leak-* 2>/dev/null || true
        return 1
    fi
}
export -f run_one
export build
printf '%s\n' "${targets[@]}" | xargs -P 2 -I{} bash -c 'run_one {} '"$seconds"' '"$work"
