#!/usr/bin/env bash
# Builds the benchmarks in a Release tree and runs them all.
# usage: bench/run-benchmarks.sh [BUILD_DIR]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-rel}
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNEL_TESTS=OFF >/dev/null
ninja -C "$build" -j2 bench_survey bench_datafile bench_graph
"$build/bin/bench_survey"
"$build/bin/bench_datafile"
"$build/bin/bench_graph"
