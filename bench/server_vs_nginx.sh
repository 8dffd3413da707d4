#!/usr/bin/env bash
# Serves one small page from Scribbet and from nginx on loopback (keep-alive off in both),
# loads both with wrk and prints their requests per second with CONNECTIONS connections and
# their median latency with one connection, each as a ratio Scribbet / nginx, then shows
# Scribbet's resident memory while it holds many connections that send nothing (and then
# only half a request).
#
#   bench/server_vs_nginx.sh
#   ROUNDS=6 DURATION=5 bench/server_vs_nginx.sh
#   DURATION=10 CONNECTIONS=64 IDLE=2000 bench/server_vs_nginx.sh
#
# BUILD is the build folder (default build/); SCRIBBET names a program to use instead of
# building one; KEEP=1 keeps the run's folder (wrk's reports, the logs). Installs nginx
# and wrk when they are missing. Everything it starts listens on 127.0.0.1 only and is
# stopped when it ends.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
DURATION=${DURATION:-4}       # seconds per measured run
ROUNDS=${ROUNDS:-4}           # runs of each, in alternating order; the best counts
CONNECTIONS=${CONNECTIONS:-32}
THREADS=${THREADS:-1}         # wrk threads; the machine also runs both servers
IDLE=${IDLE:-1000}            # connections held open for the memory figures

say() { printf '%s\n' "$*" >&2; }

# ---- Tools ----

install_tools() {
    local wanted=()
    command -v nginx >/dev/null || wanted+=(nginx)
    command -v wrk >/dev/null || wanted+=(wrk)
    [ ${#wanted[@]} -eq 0 ] && return 0

    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    local packages=() name
    for name in "${wanted[@]}"; do
        if [ "$name" = nginx ]; then
            apt-cache policy nginx-light | grep -q 'Candidate: [0-9]' || $sudo apt-get update -qq
            if apt-cache policy nginx-light | grep -q 'Candidate: [0-9]'; then
                packages+=(nginx-light)
            else
                packages+=(nginx)
            fi
        else
            apt-cache policy "$name" | grep -q 'Candidate: [0-9]' || $sudo apt-get update -qq
            packages+=("$name")
        fi
    done
    say "Installing ${packages[*]} ..."
    # The package would start a system-wide nginx on port 80; this run starts its own.
    local policy=/usr/sbin/policy-rc.d made=""
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
        $sudo chmod +x "$policy"
        made=yes
    fi
    local status=0
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${packages[@]}" >/dev/null || status=$?
    [ -n "$made" ] && $sudo rm -f "$policy"
    return $status
}

# ---- Processes this run started; all stopped on the way out ----

TMP=$(mktemp -d "${TMPDIR:-/tmp}/scribbet-bench.XXXXXX")
PIDS=()
cleanup() {
    local pid
    for pid in "${PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${PIDS[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    [ -n "${KEEP:-}" ] && say "Kept $TMP" || rm -rf "$TMP"
}
trap cleanup EXIT

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

wait_for_port() {
    local port=$1 i
    for i in $(seq 1 200); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then return 0; fi
        sleep 0.05
    done
    say "Nothing listens on port $port."
    return 1
}

# ---- Load ----

# Prints the requests per second of one measured run (after a short warm-up).
load() {
    local port=$1 name=$2 out="$TMP/wrk-$2.txt"
    local url="http://127.0.0.1:$port/page.html"
    local headers=(-H "Host: 127.0.0.1:$port" -H "Connection: close")
    wrk -t1 -c4 -d1s "${headers[@]}" "$url" >/dev/null
    wrk -t"$THREADS" -c"$CONNECTIONS" -d"${DURATION}s" "${headers[@]}" "$url" >"$out"
    check "$name" "$out"
    awk '/Requests\/sec:/ { print $2 }' "$out"
}

# Prints the median latency in microseconds of one measured run with a single connection.
latency() {
    local port=$1 name=$2 out="$TMP/wrk-$2-one.txt"
    local url="http://127.0.0.1:$port/page.html"
    local headers=(-H "Host: 127.0.0.1:$port" -H "Connection: close")
    wrk -t1 -c1 -d1s "${headers[@]}" "$url" >/dev/null
    wrk -t1 -c1 -d"${DURATION}s" --latency "${headers[@]}" "$url" >"$out"
    check "$name" "$out"
    awk '$1 == "50%" {
        v = $2; unit = v; sub(/^[0-9.]+/, "", unit); sub(/[a-z]+$/, "", v)
        print (unit == "us" ? v : unit == "ms" ? v * 1000 : v * 1000000)
    }' "$out"
}

check() {
    if grep -q 'Non-2xx' "$2"; then
        say "$1 answered with errors:"
        cat "$2" >&2
        return 1
    fi
    grep -q 'Socket errors' "$2" && say "$1: $(grep 'Socket errors' "$2" | sed 's/^ *//')"
    return 0
}

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

# Opens IDLE connections that send nothing, then half a request on each; prints the
# server's resident memory at each step and checks that it still answers meanwhile.
hold_connections() {
    python3 - "$1" "$2" "$IDLE" <<'PY'
import socket, sys, time

port, pid, count = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])

def rss():
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])

def answers():
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.sendall(f"GET /page.html HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
        return s.recv(64).startswith(b"HTTP/1.1 200 ")

before = rss()
held = [socket.create_connection(("127.0.0.1", port), timeout=5) for _ in range(count)]
time.sleep(1.0)
idle = rss()
idle_answers = answers()
half = f"GET /page.html HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nX-Pad: ".encode() + b"a" * 1000
for s in held:
    s.sendall(half)
time.sleep(1.0)
partial = rss()
partial_answers = answers()
for s in held:
    s.close()
time.sleep(1.0)
after = rss()
mb = lambda kb: f"{kb / 1024:.1f} MB"
print(f"Scribbet resident memory: {mb(before)} before; {mb(idle)} holding {count} idle connections"
      f" (+{(idle - before) / count:.2f} KB each); {mb(partial)} with 1 KB of an unfinished request on each"
      f" (+{(partial - before) / count:.2f} KB each); {mb(after)} after closing them")
print("Answered meanwhile: " + ("yes" if idle_answers and partial_answers else "NO"))
PY
}

# ---- Run ----

install_tools
if [ -z "${SCRIBBET:-}" ]; then
    say "Building Scribbet in $BUILD ..."
    cmake -S "$ROOT" -B "$BUILD" -G Ninja >/dev/null
    ninja -C "$BUILD" scribbet >/dev/null
    SCRIBBET=$BUILD/scribbet
fi

mkdir -p "$TMP/web" "$TMP/home" "$TMP/run" "$TMP/nginx/logs"
chmod 700 "$TMP/run"
cp "$ROOT/bench/page.html" "$TMP/web/page.html"
SCRIBBET_PORT_NUMBER=$(free_port)
NGINX_PORT=$(free_port)
while [ "$NGINX_PORT" = "$SCRIBBET_PORT_NUMBER" ]; do NGINX_PORT=$(free_port); done

# Enough descriptors for the held connections.
ulimit -n "$(( IDLE + 1024 > $(ulimit -n) ? IDLE + 1024 : $(ulimit -n) ))" 2>/dev/null || true

env HOME="$TMP/home" XDG_RUNTIME_DIR="$TMP/run" XDG_STATE_HOME="$TMP/home/state" \
    XDG_CONFIG_HOME="$TMP/home/config" SCRIBBET_TEST=1 SCRIBBET_NO_SCRIPT_COPY=1 \
    SCRIBBET_WEB="$TMP/web" SCRIBBET_PORT="$SCRIBBET_PORT_NUMBER" \
    "$SCRIBBET" >"$TMP/scribbet.out" 2>&1 &
SCRIBBET_PID=$!
PIDS+=("$SCRIBBET_PID")

cat >"$TMP/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $TMP/nginx/nginx.pid;
error_log $TMP/nginx/logs/error.log;
events { worker_connections 4096; }
http {
    access_log off;
    keepalive_timeout 0;
    client_body_temp_path $TMP/nginx/body;
    proxy_temp_path $TMP/nginx/proxy;
    fastcgi_temp_path $TMP/nginx/fastcgi;
    uwsgi_temp_path $TMP/nginx/uwsgi;
    scgi_temp_path $TMP/nginx/scgi;
    types { text/html html; }
    server {
        listen 127.0.0.1:$NGINX_PORT;
        root $TMP/web;
    }
}
EOF
nginx -p "$TMP/nginx" -c "$TMP/nginx/nginx.conf" >"$TMP/nginx/out.txt" 2>&1 &
PIDS+=($!)

wait_for_port "$SCRIBBET_PORT_NUMBER" || { cat "$TMP/scribbet.out" >&2; exit 1; }
wait_for_port "$NGINX_PORT" || { cat "$TMP/nginx/out.txt" >&2; exit 1; }

say "Loading each $ROUNDS times for ${DURATION} s with $CONNECTIONS connections, then with one ..."
# Other work on the machine makes single runs noisy: alternate, and keep each one's best.
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a > b ? a : b) }'; }
least() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == 0 || a < b ? a : b) }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
SCRIBBET_RPS=0 NGINX_RPS=0 SCRIBBET_P50=0 NGINX_P50=0
SCRIBBET_RUNS=() NGINX_RUNS=() RPS_RATIOS=()
SCRIBBET_P50S=() NGINX_P50S=() P50_RATIOS=()
for round in $(seq 1 "$ROUNDS"); do
    if [ $((round % 2)) -eq 1 ]; then
        s=$(load "$SCRIBBET_PORT_NUMBER" Scribbet); n=$(load "$NGINX_PORT" nginx)
        sl=$(latency "$SCRIBBET_PORT_NUMBER" Scribbet); nl=$(latency "$NGINX_PORT" nginx)
    else
        n=$(load "$NGINX_PORT" nginx); s=$(load "$SCRIBBET_PORT_NUMBER" Scribbet)
        nl=$(latency "$NGINX_PORT" nginx); sl=$(latency "$SCRIBBET_PORT_NUMBER" Scribbet)
    fi
    SCRIBBET_RUNS+=("$s") NGINX_RUNS+=("$n") RPS_RATIOS+=("$(ratio "$s" "$n")")
    SCRIBBET_P50S+=("$sl") NGINX_P50S+=("$nl") P50_RATIOS+=("$(ratio "$sl" "$nl")")
    SCRIBBET_RPS=$(best "$SCRIBBET_RPS" "$s") NGINX_RPS=$(best "$NGINX_RPS" "$n")
    SCRIBBET_P50=$(least "$sl" "$SCRIBBET_P50") NGINX_P50=$(least "$nl" "$NGINX_P50")
done
echo "Keep-alive off, $CONNECTIONS connections, requests per second (best of $ROUNDS):"
printf '  Scribbet: %10.0f   (runs: %s)\n' "$SCRIBBET_RPS" "${SCRIBBET_RUNS[*]}"
printf '  nginx:    %10.0f   (runs: %s)\n' "$NGINX_RPS" "${NGINX_RUNS[*]}"
echo "  Scribbet / nginx: $(ratio "$SCRIBBET_RPS" "$NGINX_RPS")   (round by round: ${RPS_RATIOS[*]})"
echo "One connection, median latency in microseconds (best of $ROUNDS):"
printf '  Scribbet: %10.1f   (runs: %s)\n' "$SCRIBBET_P50" "${SCRIBBET_P50S[*]}"
printf '  nginx:    %10.1f   (runs: %s)\n' "$NGINX_P50" "${NGINX_P50S[*]}"
echo "  Scribbet / nginx: $(ratio "$SCRIBBET_P50" "$NGINX_P50")   (round by round: ${P50_RATIOS[*]})"

hold_connections "$SCRIBBET_PORT_NUMBER" "$SCRIBBET_PID"
