#!/usr/bin/env bash
# Runs a benchmark of this tree beside the same benchmark built from an older commit, alternately
# (each round the other one first), on the same data, so that "before" and "after" come from one run on one machine:
#   bash Benchmarks/compare_with_base.sh [benchmark] [base commit] [rounds] [benchmark arguments...]
# The benchmark defaults to LongWorkFramesBenchmark, the base to where this branch left main, the
# rounds to 2. The base's sources are taken with git archive (the repository is not touched), this
# tree's benchmark source and Benchmarks/CMakeLists.txt are put in beside them, and both are built
# in Release. ORVIK_BENCH_HOME (default: a folder under the work folder) holds the data both use.
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:-LongWorkFramesBenchmark}
base=${2:-$(git merge-base HEAD main)}
rounds=${3:-2}
shift $(( $# < 3 ? $# : 3 ))
work=${ORVIK_COMPARE_DIR:-/tmp/orvik-compare}
jobs=${ORVIK_COMPARE_JOBS:-3}
mkdir -p "$work"

cmake -S . -B build/compare -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVIK_TESTS=ON >/dev/null
cmake --build build/compare -j "$jobs" --target "$name" >/dev/null

rm -rf "$work/base"
mkdir -p "$work/base"
git archive "$base" | tar -x -C "$work/base"
cp "Benchmarks/$name.cpp" Benchmarks/CMakeLists.txt Benchmarks/ProcessorContext.cpp "$work/base/Benchmarks/"
cmake -S "$work/base" -B "$work/base/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVIK_TESTS=ON >/dev/null
cmake --build "$work/base/build" -j "$jobs" --target "$name" >/dev/null

export ORVIK_BENCH_HOME=${ORVIK_BENCH_HOME:-$work/home}
mkdir -p "$ORVIK_BENCH_HOME"
before() {
    echo "=== round $round: before (${base:0:10})"
    "$work/base/build/Benchmarks/$name" "$@"
}
after() {
    echo "=== round $round: after (this tree, $(git rev-parse --short HEAD))"
    "build/compare/Benchmarks/$name" "$@"
}
# The side that runs first changes from round to round: a machine that warms up or gets busier
# during the run favours neither.
for round in $(seq "$rounds"); do
    if (( round % 2 )); then
        before "$@"
        after "$@"
    else
        after "$@"
        before "$@"
    fi
done
