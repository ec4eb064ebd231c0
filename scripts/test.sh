#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test;
# then the same suite under AddressSanitizer + UndefinedBehaviorSanitizer, and
# each fuzzer for a short while.
#   FUZZ_SECONDS=N   time per fuzz target (default 20)
#   SKIP_ASAN=1      skip the sanitizer build (quicker local runs)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}

bash scripts/setup.sh

step() { printf '\n=== %s ===\n' "$*"; }

step "build (warnings as errors)"
cmake -S . -B build-ci -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNEL_WERROR=ON
ninja -C build-ci -j"$JOBS"
step "tests"
ctest --test-dir build-ci --output-on-failure -j"$JOBS"

if [ "${SKIP_ASAN:-0}" != "1" ]; then
  step "build with AddressSanitizer + UndefinedBehaviorSanitizer"
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNEL_WERROR=ON -DTARNEL_SANITIZE=ON -DTARNEL_BENCH=OFF
  ninja -C build-asan -j"$JOBS"
  step "tests under sanitizers"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  LSAN_OPTIONS=suppressions=$ROOT/tests/support/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j"$JOBS"
fi

if [ -f fuzz/run-fuzzers.sh ] && [ "${FUZZ_SECONDS:-20}" != "0" ]; then
  step "fuzzers (${FUZZ_SECONDS:-20} s each)"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARNEL_FUZZ=ON -DTARNEL_TESTS=OFF -DTARNEL_BENCH=OFF
  ninja -C build-fuzz -j"$JOBS" fuzzers
  bash fuzz/run-fuzzers.sh build-fuzz "${FUZZ_SECONDS:-20}"
fi

step "all tests passed"
