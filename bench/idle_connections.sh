#!/usr/bin/env bash
# How long a new client waits for the page while IDLE connections that send nothing are
# held open, with Scribbet started under a low open-file limit (prlimit SOFT:HARD, macOS's
# default soft limit is 256). Each limit in LIMITS is one run; each prints the soft limit
# Scribbet ended up with and the time from connecting to the last byte of the page for
# NEWCOMERS clients, one after another.
#
#   bench/idle_connections.sh
#   IDLE=2000 LIMITS="256:1024 256:256" bench/idle_connections.sh
#
# BUILD is the build folder (default build/); SCRIBBET names a program to use instead of
# building one. Everything it starts listens on 127.0.0.1 only and is stopped when it ends.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
IDLE=${IDLE:-1100}
NEWCOMERS=${NEWCOMERS:-20}
LIMITS=${LIMITS:-256:1024 256:256}

say() { printf '%s\n' "$*" >&2; }

TMP=$(mktemp -d "${TMPDIR:-/tmp}/scribbet-idle.XXXXXX")
PID=""
stop() {
    if [ -n "$PID" ]; then
        kill "$PID" 2>/dev/null || true
        wait "$PID" 2>/dev/null || true
        PID=""
    fi
}
trap 'stop; rm -rf "$TMP"' EXIT

if [ -z "${SCRIBBET:-}" ]; then
    say "Building Scribbet in $BUILD ..."
    cmake -S "$ROOT" -B "$BUILD" -G Ninja >/dev/null
    ninja -C "$BUILD" scribbet >/dev/null
    SCRIBBET=$BUILD/scribbet
fi
mkdir -p "$TMP/home" "$TMP/run"
chmod 700 "$TMP/run"

for limit in $LIMITS; do
    PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')
    env HOME="$TMP/home" XDG_RUNTIME_DIR="$TMP/run" XDG_STATE_HOME="$TMP/home/state" \
        XDG_CONFIG_HOME="$TMP/home/config" SCRIBBET_STANDIN_SOCKET="$TMP/run/none.sock" \
        SCRIBBET_TEST=1 SCRIBBET_NO_SCRIPT_COPY=1 SCRIBBET_WEB="$ROOT/web" SCRIBBET_PORT="$PORT" \
        prlimit --nofile="$limit" "$SCRIBBET" >"$TMP/scribbet.out" 2>&1 &
    PID=$!
    for _ in $(seq 1 200); do (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null && break; sleep 0.05; done
    soft=$(prlimit --pid "$PID" --nofile --output SOFT --noheadings | tr -d ' ')

    python3 - "$PORT" "$IDLE" "$NEWCOMERS" "$limit" "$soft" <<'PY'
import resource, socket, sys, time

port, idle, newcomers, limit, soft = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5]
want = idle + 256
_, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (max(want, resource.getrlimit(resource.RLIMIT_NOFILE)[0]), hard))

held = [socket.create_connection(("127.0.0.1", port), timeout=5) for _ in range(idle)]
time.sleep(0.5)
request = f"GET /overlay.html HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode()
times, failed = [], 0
for _ in range(newcomers):
    begun = time.monotonic()
    with socket.create_connection(("127.0.0.1", port), timeout=60) as s:
        s.sendall(request)
        got = b""
        while chunk := s.recv(65536):
            got += chunk
    times.append((time.monotonic() - begun) * 1000)
    failed += not got.startswith(b"HTTP/1.1 200 ")
    held.append(socket.create_connection(("127.0.0.1", port), timeout=5))  # one more idle each time
closed = 0
for s in held[:idle]:
    s.setblocking(False)
    try:
        closed += s.recv(1) == b""
    except BlockingIOError:
        pass
times.sort()
print(f"prlimit --nofile={limit}: Scribbet's soft limit {soft}; {idle} idle connections "
      f"({closed} of them closed by Scribbet); a new client's page: "
      f"p50 {times[len(times) // 2]:.1f} ms, max {times[-1]:.1f} ms over {newcomers}"
      + (f"; {failed} not 200" if failed else ""))
PY
    stop
done
