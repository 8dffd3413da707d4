#!/usr/bin/env bash
# Builds Scribbet into build/ and runs every test: the C++ tests through CTest, the window tests
# under Xvfb, the drawing page's tests, the Impress extension's tests and a presenter's whole
# road through a real LibreOffice Impress (scripts/test-impress.sh); then the suite once more,
# built with clang, LLVM's libc++ and the address, leak and undefined-behaviour sanitizers, and
# the request fuzzer (build/sanitize, scripts/test-sanitized.sh).
# Usage: scripts/test.sh            everything
#        SCRIBBET_QUICK=1 scripts/test.sh   only the plain build and its tests (no second build)
#        SCRIBBET_FUZZ_SECONDS=N scripts/test.sh   fuzz for N s instead of 20 (0: not at all)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j2
scripts/test-gtk.sh
scripts/test-page.sh
scripts/test-impress.sh

if [ "${SCRIBBET_QUICK:-0}" != 1 ]; then
  scripts/test-sanitized.sh
fi
