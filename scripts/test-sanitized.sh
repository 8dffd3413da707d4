#!/usr/bin/env bash
# The C++ suite built once more, with clang and LLVM's libc++ (the standard library family
# Apple's is made from: the nearest this machine comes to the Mac's build) and with
# AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer (no recovery: the first
# undefined behaviour ends the test), into build/sanitize; then its tests, then the request
# parser's fuzzer, built in the same folder.
# Every room that builds with Debian's libc++ 14 builds here: the core rooms a Mac builds
# (scripts/mac/test.sh) and gtk. The stand-in does not (it reads numbers with std::from_chars for
# double, which libc++ 14 lacks), so neither it nor the linux room, whose tests run it, builds
# here: those two rooms run under g++ only, without a sanitizer run.
# The window tests that need a display stay with scripts/test-gtk.sh on the plain build; the
# checks that run no compiled code (the layout, the bundle's files, the add-in's) run there too.
# GoogleTest is built from Debian's sources against libc++ and with the same sanitizers first:
# the packaged library is built against libstdc++, whose types do not mix with libc++'s, and
# libc++'s containers are only checked right when every side that changes them is instrumented.
# Usage: scripts/test-sanitized.sh              build, test, fuzz for 20 s
#        SCRIBBET_FUZZ_SECONDS=N scripts/test-sanitized.sh   fuzz for N s (0: no fuzzing)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

out=build/sanitize
fuzz_seconds="${SCRIBBET_FUZZ_SECONDS:-20}"
if ! [[ "$fuzz_seconds" =~ ^[0-9]+$ ]]; then
  echo "test-sanitized: SCRIBBET_FUZZ_SECONDS must be a whole number of seconds, not '$fuzz_seconds'" >&2
  exit 2
fi
export CC=clang CXX=clang++
sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
libcxx="-stdlib=libc++"

gtest="$PWD/$out/gtest"
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  rm -rf "$out/gtest-build"
  cmake -S /usr/src/googletest -B "$out/gtest-build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="$libcxx $sanitizers" -DCMAKE_EXE_LINKER_FLAGS="$libcxx $sanitizers" \
    -DCMAKE_SHARED_LINKER_FLAGS="$libcxx $sanitizers" -DCMAKE_INSTALL_PREFIX="$gtest" >/dev/null
  cmake --build "$out/gtest-build" --target install >/dev/null
fi

# Debug: the code's own assertions stay on, and unoptimised code compiles fastest, which is
# what this step's time goes on; the tests themselves run in seconds either way.
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSCRIBBET_SANITIZE=ON \
  -DCMAKE_CXX_FLAGS="$libcxx" -DCMAKE_EXE_LINKER_FLAGS="$libcxx" -DCMAKE_SHARED_LINKER_FLAGS="$libcxx" \
  -DCMAKE_PREFIX_PATH="$gtest" >/dev/null
rooms="base runtime log app program geometry layer server shell mac gtk"
targets=(request_fuzz)
for r in $rooms; do targets+=("tests_$r"); done
cmake --build "$out" --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp"
ctest --test-dir "$out" --output-on-failure -j2 \
  -E '_NOT_BUILT$|^(LayoutTest|MacBundleTest|AddinPackageTest|AddinVbaTest)\.'

if [ "$fuzz_seconds" -gt 0 ]; then
  scripts/fuzz.sh "$fuzz_seconds" "$out"
fi
