#!/usr/bin/env bash
# usage: install_e2e.sh BUILD_DIR
# Installs into a temporary prefix, checks what landed where, validates the
# desktop entry, and starts the installed window on a fresh data folder: it
# must copy the installed template into it.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/usr"
fail() { echo "install_e2e: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log" >&2; fail "install failed"; }

for f in bin/tarnelpro bin/tarnelpro-cli bin/voltix-sim bin/ZIREriva; do
  [ -x "$prefix/$f" ] || fail "$f is not installed as a program"
done
for f in share/tarnelpro/Setup.ini share/tarnelpro/TarnelPro.html share/tarnelpro/demo/Demo_Quadripoles.txt \
         share/tarnelpro/demo/Demo_Coordinates.txt share/applications/tarnelpro.desktop \
         share/icons/hicolor/scalable/apps/tarnelpro.svg share/man/man1/tarnelpro-cli.1; do
  [ -f "$prefix/$f" ] || fail "$f is missing"
done
# Every picture the manual shows is installed beside it.
for img in $(grep -o 'src="[^"]*"' "$prefix/share/tarnelpro/TarnelPro.html" | sed 's/src="//; s/"$//'); do
  [ -f "$prefix/share/tarnelpro/$img" ] || fail "the manual's picture $img is missing"
done

# The station unit runs the installed tarnelpro-cli; systemd finds nothing to say about it.
unit="$prefix/lib/systemd/user/tarnelpro-station@.service"
[ -f "$unit" ] || fail "the station unit is missing"
grep -qx "ExecStart=$prefix/bin/tarnelpro-cli script %f --yes --resume" "$unit" || fail "the station unit does not run the installed tarnelpro-cli"
if command -v systemd-analyze >/dev/null; then
  mkdir -p "$work/runtime"
  said=$(XDG_RUNTIME_DIR="$work/runtime" systemd-analyze verify --user "$unit" 2>&1 || true)
  [ -z "$said" ] || fail "systemd-analyze: $said"
fi

command -v desktop-file-validate >/dev/null || fail "desktop-file-validate is missing (scripts/setup.sh installs it)"
desktop-file-validate "$prefix/share/applications/tarnelpro.desktop"

# Mark the installed template so the copy is known to come from it.
printf '; installed template\r\n' >>"$prefix/share/tarnelpro/Setup.ini"
data="$work/fresh data"
unset TARNELPRO_PROGRAM_DIR
export TARNELPRO_DATA_DIR="$data"
if command -v xvfb-run >/dev/null; then
  env -u QT_QPA_PLATFORM timeout 120 xvfb-run -a "$prefix/bin/tarnelpro" --grab-pages "$work/pages" \
    >"$work/run.log" 2>&1 || { cat "$work/run.log" >&2; fail "the installed tarnelpro did not start"; }
else
  QT_QPA_PLATFORM=offscreen timeout 120 "$prefix/bin/tarnelpro" --grab-pages "$work/pages" \
    >"$work/run.log" 2>&1 || { cat "$work/run.log" >&2; fail "the installed tarnelpro did not start"; }
fi
[ -f "$data/Setup.ini" ] || fail "no Setup.ini in the fresh data folder"
cmp -s "$data/Setup.ini" "$prefix/share/tarnelpro/Setup.ini" || fail "Setup.ini is not the installed template"
[ -f "$work/pages/page-1-ConfigurationTb.png" ] || fail "the window showed no page"
"$prefix/bin/tarnelpro-cli" survey --quadripoles "$prefix/share/tarnelpro/demo/Demo_Quadripoles.txt" >/dev/null \
  || fail "the installed tarnelpro-cli cannot read the demo survey"
echo "install_e2e: ok"
