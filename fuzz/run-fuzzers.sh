#!/usr/bin/env bash
# Runs each fuzzer for SECONDS, the survey ones from a seed corpus of the
# survey test fixtures; fails on a crash or sanitizer report.
# usage: fuzz/run-fuzzers.sh BUILD_DIR SECONDS
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$1
seconds=$2
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
for target in fuzz_quadripole_file fuzz_coordinate_file fuzz_link fuzz_block_decoder fuzz_config_file fuzz_protocol fuzz_data_file fuzz_rtf_reader; do
  exe="$build/bin/$target"
  if [ ! -x "$exe" ]; then
    echo "run-fuzzers: $exe is missing (configure with CXX=clang++ -DTARNEL_FUZZ=ON)" >&2
    exit 1
  fi
  corpus="$work/$target"
  mkdir -p "$corpus" "$work/artifacts-$target"
  case $target in
    fuzz_quadripole_file|fuzz_coordinate_file) cp "$src"/tests/data/survey/* "$corpus"/ ;;
    fuzz_config_file) cp "$src"/resources/Setup.ini "$corpus"/ ;;
    fuzz_rtf_reader) printf '%s' '{\rtf1\ansi\deff0{\fonttbl{\f0 Arial;}}{\colortbl;\red1\green2\blue3;}\f0\fs20\b A\b0 \'"'"'e9\u8364?{\*\x y}\par}' \
        >"$corpus"/seed.rtf ;;
  esac
  echo "run-fuzzers: $target for ${seconds}s" >&2
  if ! "$exe" -max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$work/artifacts-$target/" -print_final_stats=1 "$corpus" \
        >"$work/$target.log" 2>&1; then
    tail -n 60 "$work/$target.log" >&2
    mkdir -p "$build/fuzz-artifacts"
    cp "$work/artifacts-$target"/* "$build/fuzz-artifacts/" 2>/dev/null || true
    echo "run-fuzzers: $target FAILED; crashing inputs in $build/fuzz-artifacts/" >&2
    status=1
  else
    grep -E '^(Done|stat::number_of_executed_units)' "$work/$target.log" >&2 || true
  fi
done
exit $status
