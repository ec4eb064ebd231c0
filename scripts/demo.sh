#!/usr/bin/env bash
# Installs what is missing, builds and starts Tarnel Pro 2 (with the simulated
# instrument once it is built).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build -j"$(nproc)" tarnelpro tarnelpro-cli $( [ -d src/sim ] && [ -f src/sim/CMakeLists.txt ] && echo voltix-sim )

RUNNER=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "demo: no display found; starting on a virtual X server (xvfb-run)." >&2
  RUNNER=(xvfb-run -a -s "-screen 0 1280x800x24")
fi

SIM_PID=""
cleanup() { [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null || true; }
trap cleanup EXIT

if [ -x build/bin/voltix-sim ]; then
  PTY=${VOLTIX_SIM_PTY:-/tmp/voltix-sim-tty}
  build/bin/voltix-sim --pty "$PTY" &
  SIM_PID=$!
  echo "demo: simulated instrument on $PTY (map it with [Devices] Com1=$PTY in Setup.ini)" >&2
fi

"${RUNNER[@]}" build/bin/tarnelpro "$@"
