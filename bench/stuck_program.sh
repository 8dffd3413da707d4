#!/usr/bin/env bash
# Scribbet beside a presentation program that is slow to answer, three figures:
#
#   pending  PENDING theme requests (default 5000) wait on a program that answers each macro
#            after DELAY s (default 5); meanwhile GET /api/ping and GET /overlay.html are sent
#            one after another for SAMPLE s (default 4). Prints their latency percentiles, and
#            Scribbet's resident memory and thread count while the requests wait.
#   stop     CALLS requests (default 300, each another slide size, so each its own call) wait
#            on a program that answers after DELAY s; SIGTERM; prints how long the process took
#            to end, whether it logged its end, and whether a start right after the SIGTERM had
#            its link handled.
#   placing  THEMES theme requests (default 1000) of one client wait on a program that answers
#            in QUICK s (default 0.05); another client places a drawing; prints how long the
#            placing took to be answered.
#
#   bench/stuck_program.sh                 all three
#   MODES="stop" CALLS=300 DELAY=5 bench/stuck_program.sh
#
# BUILD is the build folder (default build/); SCRIBBET and STANDIN name programs to use
# instead of building them; KEEP=1 keeps the run's folder. Everything it starts listens on
# 127.0.0.1 or in its own folder only, and is stopped when it ends.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
MODES=${MODES:-pending stop placing}
PENDING=${PENDING:-5000}
CALLS=${CALLS:-300}
THEMES=${THEMES:-1000}
DELAY=${DELAY:-5}
QUICK=${QUICK:-0.05}
SAMPLE=${SAMPLE:-4}

say() { printf '%s\n' "$*" >&2; }

TMP=$(mktemp -d "${TMPDIR:-/tmp}/scribbet-stuck.XXXXXX")
PIDS=()
cleanup() {
    local pid
    for pid in "${PIDS[@]}"; do kill -9 "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    PIDS=()
}
trap 'cleanup; if [ -n "${KEEP:-}" ]; then say "Kept $TMP"; else rm -rf "$TMP"; fi' EXIT

if [ -z "${SCRIBBET:-}" ] || [ -z "${STANDIN:-}" ]; then
    say "Building Scribbet and the stand-in in $BUILD ..."
    cmake -S "$ROOT" -B "$BUILD" -G Ninja >/dev/null
    ninja -C "$BUILD" scribbet scribbet-standin >/dev/null
fi
SCRIBBET=${SCRIBBET:-$BUILD/scribbet}
STANDIN=${STANDIN:-$BUILD/scribbet-standin}
ulimit -n "$(ulimit -Hn)" # the clients hold thousands of connections

# One run's Scribbet and stand-in, in a folder of its own; sets PORT, SPID and LOG.
begin() {
    local run=$TMP/$1
    mkdir -p "$run/home" "$run/run"
    chmod 700 "$run/run"
    PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')
    export HOME="$run/home" XDG_RUNTIME_DIR="$run/run" XDG_STATE_HOME="$run/home/state" \
        XDG_CONFIG_HOME="$run/home/config" XDG_DATA_HOME="$run/home/data" \
        SCRIBBET_STANDIN_SOCKET="$run/run/standin.sock" \
        SCRIBBET_TEST=1 SCRIBBET_NO_SCRIPT_COPY=1 SCRIBBET_WEB="$ROOT/web" SCRIBBET_PORT="$PORT"
    unset DISPLAY WAYLAND_DISPLAY
    LOG=$run/home/state/scribbet/Scribbet.log
    "$STANDIN" serve >"$run/standin.out" 2>&1 &
    PIDS+=($!)
    for _ in $(seq 1 100); do "$STANDIN" ctl state >/dev/null 2>&1 && break; sleep 0.05; done
    "$SCRIBBET" >"$run/scribbet.out" 2>&1 &
    SPID=$!
    PIDS+=("$SPID")
    for _ in $(seq 1 200); do (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null && break; sleep 0.05; done
}

for mode in $MODES; do
    case $mode in
    pending)
        begin pending
        "$STANDIN" ctl set "delay=$DELAY" >/dev/null
        say "pending: $PENDING theme requests wait on a program that answers after $DELAY s ..."
        python3 "$ROOT/bench/stuck_program.py" pending "$PORT" "$SPID" "$PENDING" "$SAMPLE"
        ;;
    stop)
        begin stop
        "$STANDIN" ctl set "delay=$DELAY" >/dev/null
        say "stop: $CALLS calls wait on a program that answers after $DELAY s, then SIGTERM ..."
        python3 "$ROOT/bench/stuck_program.py" stop "$PORT" "$SPID" "$CALLS" "$SCRIBBET" "$LOG"
        ;;
    placing)
        begin placing
        "$STANDIN" ctl set "delay=$QUICK" >/dev/null
        say "placing: behind $THEMES theme requests of another client, the program answering in $QUICK s ..."
        python3 "$ROOT/bench/stuck_program.py" placing "$PORT" "$SPID" "$THEMES"
        ;;
    *) say "unknown mode $mode" ;;
    esac
    cleanup
done
