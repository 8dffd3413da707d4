#!/usr/bin/env bash
# The request parser beside llhttp, whole and trickling in, with repetitions interleaved at
# random so that both meet the same load; prints the table and the ratios per repetition
# pair (median and spread). Installs Debian's node-llhttp (llhttp's C sources) when missing.
#
#   bench/request_bench.sh
#   REPETITIONS=20 MIN_TIME=0.5 bench/request_bench.sh --benchmark_filter=whole
#
# SCRIBBET_BUILD names the build folder (default build/); further arguments go to the
# benchmark (Google Benchmark's flags).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${SCRIBBET_BUILD:-build}"
if [ ! -f /usr/share/llhttp/llhttp.c ] || [ ! -f /usr/include/benchmark/benchmark.h ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get install -y node-llhttp libbenchmark-dev >/dev/null
fi
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target request_bench >/dev/null
exec "$build/request_bench" \
  --benchmark_repetitions="${REPETITIONS:-10}" \
  --benchmark_min_time="${MIN_TIME:-0.2}" \
  --benchmark_enable_random_interleaving=true \
  "$@"
