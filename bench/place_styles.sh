#!/usr/bin/env bash
# How long placing a drawing of three styles takes with Accessibility granted, against the
# desktop stand-in: as three requests of one style each (how the page placed before), and as
# one request of three parts. Rounds alternate the two, so both see the same machine.
#
#   bench/place_styles.sh                  # build/ (built first)
#   SCRIBBET_BUILD=build-x ROUNDS=20 bench/place_styles.sh
#
# A folder without a CMakeCache.txt is used as it is (two programs someone built elsewhere).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${SCRIBBET_BUILD:-build}
rounds=${ROUNDS:-10}
if [[ -f "$build/CMakeCache.txt" ]]; then
  cmake --build "$build" --target scribbet scribbet-standin >/dev/null
fi
for bin in scribbet scribbet-standin; do
  [[ -x "$build/$bin" ]] || { echo "$build/$bin is missing" >&2; exit 1; }
done

dir=$(mktemp -d)
sock="$dir/standin.sock"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
vars=(PATH=/usr/bin:/bin HOME="$dir" XDG_RUNTIME_DIR="$dir" XDG_CONFIG_HOME="$dir/config" TZ=UTC
  SCRIBBET_TEST=1 SCRIBBET_NO_SCRIPT_COPY=1 SCRIBBET_STANDIN_SOCKET="$sock" SCRIBBET_PORT="$port")
standin_pid=; scribbet_pid=
cleanup() {
  set +e
  for pid in $scribbet_pid $standin_pid; do kill "$pid" 2>/dev/null; done
  for pid in $scribbet_pid $standin_pid; do
    for _ in $(seq 60); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  rm -rf "$dir"
}
trap cleanup EXIT
ctl() { env -i "${vars[@]}" "$build/scribbet-standin" ctl --socket "$sock" "$@"; }

# Started straight from here (no function, no subshell), so that $! is the program itself.
env -i "${vars[@]}" "$build/scribbet-standin" serve --socket "$sock" >"$dir/standin.out" 2>&1 &
standin_pid=$!
for _ in $(seq 100); do ctl state >/dev/null 2>&1 && break; sleep 0.05; done
ctl set ax.trusted=true >/dev/null
env -i "${vars[@]}" "$build/scribbet" >"$dir/scribbet.out" 2>&1 &
scribbet_pid=$!
for _ in $(seq 200); do curl -s -o /dev/null "http://127.0.0.1:$port/api/ping" -H 'x-scribbet: 1' && break; sleep 0.05; done

post() { # body -> "seconds answer"
  curl -s -w ' %{time_total}' -H 'x-scribbet: 1' -H 'content-type: application/json' \
    --data-binary "$1" "http://127.0.0.1:$port/api/insert"
}
seconds() { awk '{print $NF}' <<<"$1"; }
ok() { [[ "$1" == '{"ok":true'* || "$1" == *'"ok":true'* ]] || { echo "refused: $1" >&2; exit 1; }; }

one='{"path":"M 100 100 L 200 150 L 300 120","stroke":"theme:5","width":2}'
two='{"path":"M 400 300 L 500 300 L 500 400 L 400 400 Z","stroke":"#E0282E","fill":"#E0282E","width":3}'
three='{"path":"M 100 420 L 600 430","stroke":"#FFC00080","width":14}'
several="{\"parts\":[$one,$two,$three]}"

ok "$(post "$one")" # the add-in check, once
if ! post "$several" | grep -q '"parts"'; then
  echo "this Scribbet does not take several parts in one request; only three requests are timed" >&2
  several=
fi

singles=(); multis=()
for r in $(seq "$rounds"); do
  total=0
  for body in "$one" "$two" "$three"; do
    a=$(post "$body"); ok "$a"
    total=$(awk -v t="$total" -v s="$(seconds "$a")" 'BEGIN {print t + s}')
  done
  singles+=("$total")
  if [[ -n "$several" ]]; then
    a=$(post "$several"); ok "$a"
    multis+=("$(seconds "$a")")
  fi
done

stats() { # label values...
  local label=$1; shift
  printf '%s\n' "$@" | sort -g | awk -v label="$label" '{v[NR] = $1} END {
    printf "%-34s min %.3f s  median %.3f s  max %.3f s  (%d rounds)\n", label, v[1], v[int((NR + 1) / 2)], v[NR], NR }'
}
echo "Three styles placed with Accessibility on the stand-in:"
stats "three requests of one style each:" "${singles[@]}"
[[ -n "$several" ]] && stats "one request of three parts:" "${multis[@]}"
shapes=$(ctl state | python3 -c 'import json, sys; s = json.load(sys.stdin); print(len(s["slides"][s["slide"] - 1]["shapes"]))')
echo "shapes on the slide: $shapes"
