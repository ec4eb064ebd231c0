#!/usr/bin/env bash
# What a broker that is not there costs an acquisition: the same run against
# voltix-sim without --mqtt, with a broker port nobody listens on (connection
# refused at once) and with a broker address that never answers (TEST-NET,
# the connection attempt hangs until the system gives up). Wall and CPU time
# of each, averaged over RUNS runs.
# usage: bench/mqtt-unreachable.sh [BUILD_DIR] [RUNS] [TIME_SCALE]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build}
runs=${2:-3}
scale=${3:-0.02}
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT

# 40 nodes every 5 m; three injections of ten chained dipoles.
python3 - "$work" <<'PY'
import sys
w = sys.argv[1]
with open(f"{w}/coords.txt", "w") as f:
    f.write("# Num X Y Z\r\n")
    for n in range(1, 41):
        f.write(f"{n} {5*n} 0 0\r\n")
with open(f"{w}/quads.txt", "w") as f:
    f.write("# Num A B M N\r\n")
    q = 1
    for g in range(3):
        for k in range(10):
            f.write(f"{q} {13*g+1} {13*g+2} {13*g+3+k} {13*g+4+k}\r\n")
            q += 1
PY
"$build/bin/voltix-sim" --tcp 127.0.0.1:0 --time-scale "$scale" >"$work/sim.txt" &
for _ in $(seq 50); do grep -q ready "$work/sim.txt" && break; sleep 0.1; done
link=$(sed -n 's/^voltix-sim ready tcp://p' "$work/sim.txt")
cat >"$work/run.ini" <<INI
[Name]
QuadripoleFile=$work/quads.txt
CoordinateFile=$work/coords.txt
[Parameters]
AcquisitionFile=$work/out.bin
[Communication]
Port=100
IPAddress=$link
INI
export TARNELPRO_DATA_DIR="$work/data"

measure() { # name, extra arguments...
    local name=$1
    shift
    local wall=0 cpu=0
    for i in $(seq "$runs"); do
        /usr/bin/time -f "%e %U %S" -o "$work/time.txt" "$build/bin/tarnelpro-cli" acquire --config "$work/run.ini" \
            --yes --overwrite --output "$work/$name.bin" "$@" 2>/dev/null
        read -r e u s <"$work/time.txt"
        wall=$(python3 -c "print($wall + $e)")
        cpu=$(python3 -c "print($cpu + $u + $s)")
    done
    python3 -c "print('%-28s wall %7.3f s   CPU %6.3f s   (mean of $runs)' % ('$name', $wall / $runs, $cpu / $runs))"
    echo "$wall" >"$work/$name.wall"
}

measure "no broker"
measure "refused (127.0.0.1:1)" --mqtt mqtt://127.0.0.1:1/bench/st1
measure "silent (192.0.2.1)" --mqtt mqtt://192.0.2.1:1883/bench/st1
python3 - "$work" <<'PY'
import sys
w = sys.argv[1]
base = float(open(f"{w}/no broker.wall").read())
for name in ("refused (127.0.0.1:1)", "silent (192.0.2.1)"):
    t = float(open(f"{w}/{name}.wall").read())
    print(f"{name}: {100 * (t - base) / base:+.2f} % of the run's time")
PY
