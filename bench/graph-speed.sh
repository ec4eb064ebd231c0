#!/usr/bin/env bash
# Speed of the two graph widgets:
# - a full pseudo-section redraw (2000 cells handed to the contour graph and
#   one repaint, offscreen);
# - the 3-D progress view of 18000 points turning, in frames per second,
#   under xvfb-run with software OpenGL.
# usage: bench/graph-speed.sh [BUILD_DIR]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-rel}
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNEL_TESTS=OFF >/dev/null
ninja -C "$build" -j2 bench_section_redraw bench_scatter_rotate
QT_QPA_PLATFORM=offscreen "$build/bin/bench_section_redraw"
LIBGL_ALWAYS_SOFTWARE=1 xvfb-run -a -s "-screen 0 1280x800x24" "$build/bin/bench_scatter_rotate" 8
