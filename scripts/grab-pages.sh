#!/usr/bin/env bash
# Pictures of every page after a demo acquisition on the simulated instrument
# (the pictures in docs/ are made this way):
#   bash scripts/grab-pages.sh [DIR] [WxH]     (default DIR: docs)
# With WxH the virtual screen has that size and the window fills it (the
# walk-through in docs/screens/ is made at 800x600 and 1920x1080):
#   bash scripts/grab-pages.sh docs/screens/800x600 800x600
# Needs a build (build/bin) and xvfb-run: the 3-D view needs OpenGL.
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=$(realpath -m "${1:-docs}")
SCREEN=${2:-}
FILL=()
if [ -n "$SCREEN" ]; then FILL=(--fill-screen); fi
PORT=${VOLTIX_SIM_PORT:-29481}
WORK=$(mktemp -d)
SIM_PID=""
cleanup() { if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null || true; fi; rm -rf "$WORK"; }
trap cleanup EXIT

cp resources/demo/Demo_Quadripoles.txt resources/demo/Demo_Coordinates.txt "$WORK"/
sed -e "s#^\[Name\]\r\$#[Name]\r\nQuadripoleFile=$WORK/Demo_Quadripoles.txt\r\nCoordinateFile=$WORK/Demo_Coordinates.txt\r#" \
    -e "s#^\[Parameters\]\r\$#[Parameters]\r\nAcquisitionFile=$WORK/Demo.bin\r#" \
    -e "s#^CommentMemo=\r\$#CommentMemo=Demo line on the simulated instrument\r#" \
    -e "s#^Port=1\r\$#Port=100\r\nIPAddress=127.0.0.1:$PORT\r#" \
    resources/Setup.ini >"$WORK/Setup.ini"

# An electrode check first (one electrode with a poor contact) for the
# Resistance page: its table beside the data file is shown on loading.
build/bin/voltix-sim --tcp "127.0.0.1:$((PORT + 1))" --coordinates "$WORK/Demo_Coordinates.txt" \
  --time-scale 0 --bad-electrodes 21 &
SIM_PID=$!
sleep 1
TARNELPRO_DATA_DIR="$WORK" build/bin/tarnelpro-cli check-resistance --config "$WORK/Setup.ini" \
  --link "tcp:127.0.0.1:$((PORT + 1))" --max 100 --retries 0 --yes >/dev/null || true
kill "$SIM_PID" 2>/dev/null || true
wait "$SIM_PID" 2>/dev/null || true

build/bin/voltix-sim --tcp "127.0.0.1:$PORT" --coordinates "$WORK/Demo_Coordinates.txt" \
  --time-scale 0 --model anomaly:100,1000,115,10,9 &
SIM_PID=$!
sleep 1
TARNELPRO_DATA_DIR="$WORK" xvfb-run -a -s "-screen 0 ${SCREEN:-1280x800}x24" \
  build/bin/tarnelpro --grab-pages "$OUT" --acquire "${FILL[@]}"
echo "pictures in $OUT" >&2
