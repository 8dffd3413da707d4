#!/usr/bin/env bash
# Instructions and allocations per quiet 60 Hz tick of an open layer, in both measuring
# modes: callgrind counts a run of 10,000 ticks and a run of none; the difference is the ticks.
# SCRIBBET_BUILD names the build folder (default build/).
set -euo pipefail
cd "$(dirname "$0")/.."
command -v valgrind >/dev/null || { echo "valgrind is needed" >&2; exit 1; }
build="${SCRIBBET_BUILD:-build}"
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target tick_bench >/dev/null
ticks=10000
count() { # mode ticks -> total instructions
  local out; out=$(mktemp)
  valgrind --tool=callgrind --callgrind-out-file="$out" "$build/tick_bench" "$1" "$2" >/dev/null 2>&1
  callgrind_annotate "$out" 2>/dev/null | awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}'
  rm -f "$out"
}
for mode in addin pane; do
  base=$(count "$mode" 0)
  full=$(count "$mode" "$ticks")
  echo "$mode mode: $(( (full - base) / ticks )) instructions per tick"
  "$build/tick_bench" "$mode" "$ticks"
done
