#!/usr/bin/env bash
# CPU time per group and peak memory of an acquisition of a 15998-quadripole
# survey against voltix-sim (--time-scale 0), and the window's peak memory with
# that survey loaded.
# usage: bench/acquire-speed.sh [BUILD_DIR] [SECONDS]
#   the acquisition is stopped (SIGTERM, as Stop) after SECONDS (default 60)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build}
seconds=${2:-60}
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT

# 2001 nodes every 2 m; 1600 injections of ten chained dipoles, less two.
python3 - "$work" <<'PY'
import sys
w = sys.argv[1]
with open(f"{w}/coords.txt", "w") as f:
    f.write("# Num X Y Z\r\n")
    for n in range(1, 2002):
        f.write(f"{n} {2*n} 0 0\r\n")
with open(f"{w}/quads.txt", "w") as f:
    f.write("# Num A B M N\r\n")
    q = 1
    a = 1
    while q <= 15998:
        for k in range(10):
            if q > 15998:
                break
            f.write(f"{q} {a} {a+1} {a+2+k} {a+3+k}\r\n")
            q += 1
        a = a % 1985 + 1
PY
port=$(( 30000 + RANDOM % 20000 ))
cat >"$work/run.ini" <<INI
[Name]
QuadripoleFile=$work/quads.txt
CoordinateFile=$work/coords.txt
[Parameters]
AcquisitionFile=$work/out.bin
[Communication]
Port=100
IPAddress=127.0.0.1:$port
INI
"$build/bin/voltix-sim" --tcp "127.0.0.1:$port" --time-scale 0 --coordinates "$work/coords.txt" >/dev/null &
sleep 0.5

export TARNELPRO_DATA_DIR="$work/data"
/usr/bin/time -v -o "$work/time.txt" "$build/bin/tarnelpro-cli" acquire --config "$work/run.ini" --yes \
  2>"$work/progress.txt" &
cli=$!
sleep "$seconds"
pkill -TERM -f "^$build/bin/tarnelpro-cli acquire --config $work/run.ini" 2>/dev/null || true
wait "$cli" || true

groups=$(grep -c ' / 15998' "$work/progress.txt" || true)
user=$(awk -F': ' '/User time/ {print $2}' "$work/time.txt" | tr -d ' \t')
sys=$(awk -F': ' '/System time/ {print $2}' "$work/time.txt" | tr -d ' \t')
rss=$(awk -F': ' '/Maximum resident/ {print $2}' "$work/time.txt" | tr -d ' \t')
records=$(( ($(stat -c %s "$work/out.bin") - 1029) / 304 ))
echo "acquire: $groups groups, $records records in ${seconds}s"
python3 -c "print('acquire: CPU time per group %.2f ms (user %s s + system %s s, start-up included)' % ((float('$user')+float('$sys'))*1000/max(1,$groups), '$user', '$sys'))"
echo "acquire: peak memory $(( rss / 1024 )) MB"

# The window with the same survey loaded, offscreen.
mkdir -p "$work/win"
cp "$work/run.ini" "$work/win/Setup.ini"
TARNELPRO_DATA_DIR="$work/win" QT_QPA_PLATFORM=offscreen "$build/bin/tarnelpro" >/dev/null 2>&1 &
win=$!
sleep 5
hwm=$(awk '/VmHWM/ {print $2}' /proc/$win/status)
kill $win
echo "window: peak memory $(( hwm / 1024 )) MB with the survey loaded"
