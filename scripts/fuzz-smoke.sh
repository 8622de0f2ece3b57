#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a few seconds
# from its seed corpus (a smoke run; real fuzzing runs longer by hand).
# Runs use a fixed random seed, so that each repeats the inputs of the last;
# QUORVANT_FUZZ_SEED=0 lets libFuzzer pick one.
#   scripts/fuzz-smoke.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
seed=${QUORVANT_FUZZ_SEED:-1}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DQUORVANT_FUZZ=ON -DQUORVANT_TESTS=OFF \
  -DQUORVANT_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target fuzzers -j"$(nproc)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for corpus in fuzz/corpus/*/; do
  name=$(basename "$corpus")
  binary=build-fuzz/fuzz/$name
  [ -x "$binary" ] || continue
  mkdir -p "$work/$name"
  if "$binary" -max_total_time="$seconds" -seed="$seed" -print_final_stats=0 "$work/$name" "$corpus" \
      >"$work/$name.log" 2>&1; then
    echo "fuzz $name: ok ($(grep -c '' "$work/$name.log") log lines)"
  else
    echo "fuzz $name: FAILED"; tail -40 "$work/$name.log"; status=1
  fi
done
exit $status
