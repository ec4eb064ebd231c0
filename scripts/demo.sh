#!/usr/bin/env bash
# Installs what is missing, builds and starts Tarnel Pro 2 on the simulated
# instrument: voltix-sim plays a VOLTIX behind a Wi-Fi module on loopback TCP,
# which the demo configuration selects ("Wavenode"), with a 48-electrode line.
#   TARNELPRO_DATA_DIR   demo data folder (default: ~/Voltix/TarnelPro Demo)
#   VOLTIX_SIM_PORT      TCP port of the simulator (default: 29461, the module's)
#   VOLTIX_SIM_SCALE     simulated measurement time scale (default: 0.05)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build -j"$(nproc)" tarnelpro tarnelpro-cli voltix-sim

DEMO=${TARNELPRO_DATA_DIR:-$HOME/Voltix/TarnelPro Demo}
PORT=${VOLTIX_SIM_PORT:-29461}
mkdir -p "$DEMO"
cp -n resources/demo/Demo_Quadripoles.txt resources/demo/Demo_Coordinates.txt "$DEMO"/ 2>/dev/null || true
if [ ! -f "$DEMO/Setup.ini" ]; then
  # The template with the demo survey, data file and link filled in.
  {
    sed -e "s#^\[Name\]\r\$#[Name]\r\nQuadripoleFile=$DEMO/Demo_Quadripoles.txt\r\nCoordinateFile=$DEMO/Demo_Coordinates.txt\r#" \
        -e "s#^\[Parameters\]\r\$#[Parameters]\r\nAcquisitionFile=$DEMO/Demo.bin\r#" \
        -e "s#^CommentMemo=\r\$#CommentMemo=Demo line on the simulated instrument\r#" \
        -e "s#^Port=1\r\$#Port=100\r\nIPAddress=127.0.0.1:$PORT\r#" \
        resources/Setup.ini
  } >"$DEMO/Setup.ini"
fi

RUNNER=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "demo: no display found; starting on a virtual X server (xvfb-run)." >&2
  RUNNER=(xvfb-run -a -s "-screen 0 1280x800x24")
fi

SIM_PID=""
cleanup() { if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null || true; fi; }
trap cleanup EXIT
build/bin/voltix-sim --tcp "127.0.0.1:$PORT" --coordinates "$DEMO/Demo_Coordinates.txt" \
  --time-scale "${VOLTIX_SIM_SCALE:-0.05}" --model anomaly:100,1000,115,10,9 &
SIM_PID=$!
echo "demo: simulated instrument on 127.0.0.1:$PORT (\"Wavenode\" in the demo configuration); data in $DEMO" >&2
echo "demo: press Connect (F2), answer OK to the prompts, then Start." >&2

TARNELPRO_DATA_DIR="$DEMO" "${RUNNER[@]}" "$ROOT/build/bin/tarnelpro" "$@"
