#!/usr/bin/env bash
# How long the page's files and the layer's close wait while calls to a slow presentation
# program are pending: the desktop stand-in answers every macro after DELAY seconds, PENDING
# requests for the theme colours wait on it (macro calls go one at a time), and meanwhile
# GET /overlay.html and POST /api/overlay/close are sent one after another on fresh
# connections for SAMPLE seconds. Prints their latency percentiles in milliseconds.
#
#   bench/slow_program.sh
#   PENDING=16 DELAY=5 SAMPLE=4 bench/slow_program.sh
#
# BUILD is the build folder (default build/); SCRIBBET and STANDIN name programs to use
# instead of building them; KEEP=1 keeps the run's folder. Everything it starts listens on
# 127.0.0.1 or in its own folder only, and is stopped when it ends.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
PENDING=${PENDING:-8}
DELAY=${DELAY:-5}
SAMPLE=${SAMPLE:-4} # seconds of sampling; below DELAY, so that all PENDING calls still wait

say() { printf '%s\n' "$*" >&2; }

TMP=$(mktemp -d "${TMPDIR:-/tmp}/scribbet-slow.XXXXXX")
PIDS=()
cleanup() {
    local pid
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${PIDS[@]}"; do
        # Scribbet quits once the calls under way are answered; not longer than 10 s here.
        for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    [ -n "${KEEP:-}" ] && say "Kept $TMP" || rm -rf "$TMP"
}
trap cleanup EXIT

if [ -z "${SCRIBBET:-}" ] || [ -z "${STANDIN:-}" ]; then
    say "Building Scribbet and the stand-in in $BUILD ..."
    cmake -S "$ROOT" -B "$BUILD" -G Ninja >/dev/null
    ninja -C "$BUILD" scribbet scribbet-standin >/dev/null
fi
SCRIBBET=${SCRIBBET:-$BUILD/scribbet}
STANDIN=${STANDIN:-$BUILD/scribbet-standin}

mkdir -p "$TMP/home" "$TMP/run"
chmod 700 "$TMP/run"
PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')
export HOME="$TMP/home" XDG_RUNTIME_DIR="$TMP/run" XDG_STATE_HOME="$TMP/home/state" \
    XDG_CONFIG_HOME="$TMP/home/config" XDG_DATA_HOME="$TMP/home/data" \
    SCRIBBET_STANDIN_SOCKET="$TMP/run/standin.sock"
unset DISPLAY WAYLAND_DISPLAY

"$STANDIN" serve >"$TMP/standin.out" 2>&1 &
PIDS+=($!)
for _ in $(seq 1 100); do "$STANDIN" ctl state >/dev/null 2>&1 && break; sleep 0.05; done

env SCRIBBET_TEST=1 SCRIBBET_NO_SCRIPT_COPY=1 SCRIBBET_WEB="$ROOT/web" SCRIBBET_PORT="$PORT" \
    "$SCRIBBET" >"$TMP/scribbet.out" 2>&1 &
PIDS+=($!)
for _ in $(seq 1 200); do (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null && break; sleep 0.05; done

"$STANDIN" ctl set "delay=$DELAY" >/dev/null
say "The program answers after $DELAY s; $PENDING theme requests wait on it; sampling for $SAMPLE s ..."

python3 - "$PORT" "$PENDING" "$SAMPLE" <<'PY'
import socket, sys, threading, time

port, pending, sample = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
host = f"127.0.0.1:{port}"

def exchange(raw, timeout):
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(raw)
        got = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                return got
            got += chunk

theme = f"GET /api/theme HTTP/1.1\r\nHost: {host}\r\nx-scribbet: 1\r\n\r\n".encode()
page = f"GET /overlay.html HTTP/1.1\r\nHost: {host}\r\n\r\n".encode()
close = (f"POST /api/overlay/close HTTP/1.1\r\nHost: {host}\r\nx-scribbet: 1\r\n"
         f"Content-Length: 0\r\n\r\n").encode()

answers = []
def wait_for_theme():
    begun = time.monotonic()
    ok = exchange(theme, 120).startswith(b"HTTP/1.1 200 ")
    answers.append((time.monotonic() - begun, ok))

waiting = [threading.Thread(target=wait_for_theme, daemon=True) for _ in range(pending)]
for t in waiting:
    t.start()
time.sleep(0.3)  # every one of them has reached the server

times = {"GET /overlay.html": [], "POST /api/overlay/close": []}
failed = 0
end = time.monotonic() + sample
while time.monotonic() < end:
    for name, raw in (("GET /overlay.html", page), ("POST /api/overlay/close", close)):
        begun = time.monotonic()
        reply = exchange(raw, 30)
        times[name].append((time.monotonic() - begun) * 1000)
        if not reply.startswith(b"HTTP/1.1 200 "):
            failed += 1
    time.sleep(0.002)

def pct(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))]

print(f"While {pending - len(answers)} of {pending} theme requests still waited on the program:")
for name, values in times.items():
    print(f"  {name:24} {len(values):5} requests   p50 {pct(values, 50):6.2f} ms   "
          f"p99 {pct(values, 99):6.2f} ms   max {max(values):6.2f} ms")
if failed:
    print(f"  {failed} answers were not 200")
PY
