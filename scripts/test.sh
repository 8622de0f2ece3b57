#!/usr/bin/env bash
# Sets up, builds and runs every test: the suite as built for release, a
# short run of every libFuzzer target, then the same suite built with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/setup.sh build
(cd build && ctest --output-on-failure -j"$jobs" -LE slow)

scripts/fuzz-smoke.sh 10

scripts/setup.sh build-asan -DQUORVANT_SANITIZE=ON -DQUORVANT_BENCH=OFF
(cd build-asan &&
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j"$jobs" -LE slow)
