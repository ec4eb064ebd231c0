#!/usr/bin/env bash
# Builds and runs the survey benchmark in a Release tree.
# usage: bench/run-survey-bench.sh [BUILD_DIR] [benchmark options...]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-survey-rel}
shift $(( $# > 0 ? 1 : 0 ))
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNEL_TESTS=OFF >/dev/null
ninja -C "$build" -j2 bench_survey
"$build/bin/bench_survey" "$@"
