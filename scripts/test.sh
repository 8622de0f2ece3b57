#!/usr/bin/env bash
# Sets up, builds and runs every test: the suite as built for release, a
# short run of every libFuzzer target, the same suite built with
# AddressSanitizer and UndefinedBehaviorSanitizer, then the engine and the
# concurrent export tests under ThreadSanitizer (not the property store's
# tests: ThreadSanitizer does not follow a process-shared mutex that lives in
# a shared memory mapping).
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

# ThreadSanitizer over the engine and the exports called from many threads:
# only the two test programs that hold those tests are built.
QUORVANT_BUILD_TARGETS="engine_test concurrent_exports_test" \
  scripts/setup.sh build-tsan -DQUORVANT_TSAN=ON -DQUORVANT_BENCH=OFF -DQUORVANT_FUZZ=OFF
(cd build-tsan &&
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --output-on-failure -j"$jobs" -R '^(ConcurrentExports|SecurityEngineTest|HashTest|HashFileTest|RegistryOperationsTest|CertOperationsTest|ErrorMessagesTest|GetMacAddressTest|GetOSNameTest|ModuleVersionTest)\.')
