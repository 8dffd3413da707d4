#!/usr/bin/env bash
# Builds Scribbet into build/ and runs every test, and the core's tests again with libc++
# (build/libcxx, as a Mac builds them); then runs the suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer (build/asan), and the request fuzzer.
# Usage: scripts/test.sh            everything
#        SCRIBBET_QUICK=1 scripts/test.sh   only the plain build and its tests
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j2
scripts/test-gtk.sh
scripts/test-page.sh
scripts/test-libcxx.sh

if [ "${SCRIBBET_QUICK:-0}" != 1 ]; then
  cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSCRIBBET_SANITIZE=ON >/dev/null
  cmake --build build/asan
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 LSAN_OPTIONS=suppressions="$PWD/scripts/lsan.supp" \
    ctest --test-dir build/asan --output-on-failure -j2
  scripts/fuzz.sh "${SCRIBBET_FUZZ_SECONDS:-20}"
fi
