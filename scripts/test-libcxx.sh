#!/usr/bin/env bash
# The core's test programs built with clang and LLVM's libc++, the standard library family
# Apple's is made from, and run: the nearest this machine comes to the Mac's build of them.
# GoogleTest is built from Debian's sources against libc++ first (the packaged library is
# built against libstdc++, whose types do not mix with libc++'s). Builds into build/libcxx.
# The test rooms are those scripts/mac/test.sh builds on a Mac.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

out=build/libcxx
export CC=clang CXX=clang++
if [ ! -f "$out/gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$out/gtest-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS=-stdlib=libc++ -DCMAKE_INSTALL_PREFIX="$PWD/$out/gtest" >/dev/null
  cmake --build "$out/gtest-build" --target install >/dev/null
fi

rooms=$(sed -n 's/^core_rooms=(\(.*\))$/\1/p' scripts/mac/test.sh)
[ -n "$rooms" ] || { echo "test-libcxx: no test rooms in scripts/mac/test.sh" >&2; exit 2; }
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS=-stdlib=libc++ \
  -DCMAKE_EXE_LINKER_FLAGS=-stdlib=libc++ -DCMAKE_PREFIX_PATH="$PWD/$out/gtest" >/dev/null
targets=()
for r in $rooms; do targets+=("tests_$r"); done
cmake --build "$out" --target "${targets[@]}"
ctest --test-dir "$out" --output-on-failure -j2 -E '_NOT_BUILT$|^LayoutTest\.|^MacBundleTest\.'
