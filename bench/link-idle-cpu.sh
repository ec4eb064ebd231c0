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

# A script waiting for its next event: tarnelpro-cli connected to a voltix-sim
# TCP port, then a latency of N seconds; the figure is the whole process
# (connecting included) over its wall time.
cli="$build/bin/tarnelpro-cli"
sim="$build/bin/voltix-sim"
if [ -x "$cli" ] && [ -x "$sim" ]; then
  tmp=$(mktemp -d)
  trap 'kill "$simpid" 2>/dev/null; rm -rf "$tmp"' EXIT
  "$sim" --tcp 127.0.0.1:0 --time-scale 0 > "$tmp/sim.out" &
  simpid=$!
  while ! grep -q ready "$tmp/sim.out" 2>/dev/null; do sleep 0.1; done
  addr=$(sed -n 's/^voltix-sim ready tcp://p' "$tmp/sim.out")
  days=$(awk -v s="$seconds" 'BEGIN { printf "%.10f", s / 86400 }')
  printf '1 : wait -<X: 1 @ %s >-\r\n' "$days" > "$tmp/wait.scp"
  TARNELPRO_DATA_DIR="$tmp/data" /usr/bin/env time -f "idle-cpu script wait: wall %e s, user %U s, system %S s, %P of one core" \
      "$cli" script "$tmp/wait.scp" --link "tcp:$addr" --yes 2>&1 >/dev/null | grep -E '^idle-cpu'
fi
