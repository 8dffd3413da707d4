"""The clients of bench/stuck_program.sh: python3 stuck_program.py MODE PORT PID ARGS..."""
import json
import os
import selectors
import signal
import socket
import subprocess
import sys
import time


def request(port, line, body=b"", api=True):
    head = f"{line} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n"
    if api:
        head += "x-scribbet: 1\r\n"
    if body:
        head += f"Content-Type: application/json\r\nContent-Length: {len(body)}\r\n"
    return (head + "\r\n").encode() + body


def exchange(port, raw, timeout=30):
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(raw)
        got = b""
        while chunk := s.recv(65536):
            got += chunk
        return got


def hold(port, raws):
    """Opens one connection per request and sends it; the replies are read later."""
    held = []
    for raw in raws:
        s = socket.create_connection(("127.0.0.1", port), timeout=10)
        s.sendall(raw)
        s.setblocking(False)
        held.append(s)
    return held


def replies(held, limit):
    """Reads every held connection until it closes or `limit` s pass; the texts that came."""
    sel = selectors.DefaultSelector()
    got = {}
    for s in held:
        sel.register(s, selectors.EVENT_READ)
        got[s] = b""
    end = time.monotonic() + limit
    while sel.get_map() and time.monotonic() < end:
        for key, _ in sel.select(timeout=0.1):
            try:
                chunk = key.fileobj.recv(65536)
            except (ConnectionResetError, BlockingIOError):
                chunk = b""
            if chunk:
                got[key.fileobj] += chunk
            else:
                sel.unregister(key.fileobj)
    for s in held:
        s.close()
    return list(got.values())


def status(pid, field):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return line.split()[1]
    return "?"


def pct(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))]


def pending(port, pid, count, sample):
    held = hold(port, [request(port, "GET /api/theme")] * count)
    time.sleep(0.5)
    times = {"GET /api/ping": [], "GET /overlay.html": []}
    raws = {"GET /api/ping": request(port, "GET /api/ping"),
            "GET /overlay.html": request(port, "GET /overlay.html", api=False)}
    failed = 0
    end = time.monotonic() + sample
    while time.monotonic() < end:
        for name, raw in raws.items():
            begun = time.monotonic()
            failed += not exchange(port, raw).startswith(b"HTTP/1.1 200 ")
            times[name].append((time.monotonic() - begun) * 1000)
    rss = int(status(pid, "VmRSS")) / 1024
    threads = status(pid, "Threads")
    print(f"While {count} theme requests waited on the program:")
    for name, values in times.items():
        print(f"  {name:18} {len(values):5} requests   p50 {pct(values, 50):6.2f} ms   "
              f"p99 {pct(values, 99):6.2f} ms   max {max(values):6.2f} ms")
    print(f"  resident memory {rss:.1f} MB, {threads} threads" + (f", {failed} answers not 200" if failed else ""))
    answered = sum(r.startswith(b"HTTP/1.1 200 ") for r in replies(held, 30))
    print(f"  then {answered} of {count} theme requests were answered")


def stop(port, pid, calls, program, log):
    held = hold(port, [request(port, f"GET /api/slide?px={100 + i}") for i in range(calls)])
    time.sleep(1.0)
    begun = time.monotonic()
    os.kill(pid, signal.SIGTERM)
    later = subprocess.Popen([program, "scribbet://status"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    ended = None
    while time.monotonic() - begun < 60:
        try:
            done, _ = os.waitpid(pid, os.WNOHANG)
        except ChildProcessError:
            done = 0  # not ours to wait for: look at /proc
        if done == pid or not os.path.exists(f"/proc/{pid}") or status(pid, "State") == "Z":
            ended = time.monotonic() - begun
            break
        time.sleep(0.01)
    got = replies(held, 5)
    told = sum(r.startswith(b"HTTP/1.1 ") for r in got)
    print(f"SIGTERM with {calls} calls waiting: " +
          (f"the process ended after {ended:.2f} s" if ended is not None else "the process was still running after 60 s"))
    text = open(log, encoding="utf-8", errors="replace").read() if os.path.exists(log) else ""
    print(f"  its log ends with 'Scribbet ended.': {'yes' if 'Scribbet ended.' in text else 'no'}")
    print(f"  {told} of {calls} waiting clients got an answer")
    time.sleep(1.0)
    code = later.poll()
    if code is None:
        print("  a start right after the SIGTERM became the next instance (still running)")
        later.terminate()
        later.wait(10)
    else:
        print(f"  a start right after the SIGTERM exited {code}: {later.stderr.read().decode().strip()}")


def placing(port, pid, themes):
    held = hold(port, [request(port, "GET /api/theme")] * themes)
    time.sleep(0.2)
    body = json.dumps({"id": "bench-placing", "path": "M 10 10 L 100 100"}).encode()
    begun = time.monotonic()
    answer = exchange(port, request(port, "POST /api/insert", body), timeout=120)
    took = time.monotonic() - begun
    reply = answer.split(b"\r\n\r\n", 1)[-1].decode(errors="replace")
    print(f"A placing behind {themes} theme requests of another client: answered after {took:.2f} s: {reply[:120]}")
    answered = sum(r.startswith(b"HTTP/1.1 200 ") for r in replies(held, 60))
    print(f"  and {answered} of {themes} theme requests were answered")


if __name__ == "__main__":
    mode, port, pid = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    if mode == "pending":
        pending(port, pid, int(sys.argv[4]), float(sys.argv[5]))
    elif mode == "stop":
        stop(port, pid, int(sys.argv[4]), sys.argv[5], sys.argv[6])
    elif mode == "placing":
        placing(port, pid, int(sys.argv[4]))
