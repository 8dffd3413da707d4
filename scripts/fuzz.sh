#!/usr/bin/env bash
# Builds the request parser's fuzzer with clang and runs it for a bounded time: in the given
# build folder, one configured with clang and SCRIBBET_SANITIZE (scripts/test-sanitized.sh passes
# build/sanitize), else as a project of its own in build/fuzz.
# Usage: scripts/fuzz.sh [seconds [build-folder]]   (default 20 s). Exits non-zero when the
# fuzzer finds a fault.
set -euo pipefail

seconds="${1:-20}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
  echo "fuzz: the time must be a positive number of seconds, not '$seconds'" >&2
  exit 2
fi

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ -n "${2:-}" ]; then
  if ! build="$(cd "$2" 2>/dev/null && pwd)" || [ ! -f "$build/build.ninja" ]; then
    echo "fuzz: $2 is not a configured build folder (scripts/test-sanitized.sh makes build/sanitize)" >&2
    exit 2
  fi
  fuzzer="$build/fuzz/request_fuzz"
else
  build="$root/build/fuzz"
  CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$build" -G Ninja >/dev/null
  fuzzer="$build/request_fuzz"
fi
ninja -C "$build" request_fuzz

# libFuzzer adds what it finds to its corpus folder, and the seeds belong to the repository:
# work on a fresh copy. Two generated seeds sit exactly at the header-size limit, which
# small mutations of the checked-in seeds would take a long time to reach.
corpus="$(dirname "$fuzzer")/corpus"
artifacts="$(dirname "$fuzzer")/artifacts"
rm -rf "$corpus"
mkdir -p "$corpus" "$artifacts"
cp "$root"/fuzz/corpus/request/* "$corpus"/
limit=65536
padded() { # prefix, filler letter: exactly $limit bytes
  printf '%s' "$1"
  head -c $((limit - ${#1})) /dev/zero | tr '\0' "$2"
}
whole=$'POST /big HTTP/1.1\r\nContent-Length: 3\r\nX: '
{ padded "$whole" a; printf '\r\n\r\nabc'; } >"$corpus/limit_whole"
padded $'GET /big HTTP/1.1\r\nX: ' b >"$corpus/limit_open"

cd "$(dirname "$fuzzer")"
"$fuzzer" "$corpus" \
  -dict="$root/fuzz/request.dict" \
  -max_total_time="$seconds" \
  -max_len=200000 \
  -timeout=10 \
  -artifact_prefix="$artifacts/" \
  -print_final_stats=1
