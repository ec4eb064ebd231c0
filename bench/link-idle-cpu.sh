#!/bin/sh
# CPU cost of waiting for a silent instrument: a serial link on a voltix-sim
# pty and a TCP link on a voltix-sim port each wait in ReadLine and in
# WaitForText for N seconds (default 10); the figures are the process's own
# user+system time over the wall time of each wait.
# usage: bench/link-idle-cpu.sh [BUILD_DIR] [SECONDS]
set -eu
build=${1:-build}
seconds=${2:-10}
exe="$build/bin/test_link_e2e"
[ -x "$exe" ] || { echo "build test_link_e2e first ($exe missing)" >&2; exit 1; }
export TARNEL_IDLE_SECONDS="$seconds"
export QT_QPA_PLATFORM=offscreen
/usr/bin/env time -f "whole run: wall %e s, user %U s, system %S s, %P of one core" \
    "$exe" --gtest_also_run_disabled_tests --gtest_filter='IdleCpu.*' 2>&1 |
    grep -E '^idle-cpu|^whole run|FAILED'
