#!/usr/bin/python3
"""Figures of Scribbet's Impress extension in a real soffice: how fast the geometry answer is,
how long a 100-stroke drawing takes to place, how long a 1280-pixel slide picture takes, and
what an idle watch connection costs soffice in CPU.

Runs against the session that `scripts/impress/session.py start` left running, or starts one
of its own (and ends it). Targets: geometry median <= 2 ms, placing <= 1.5 s, picture <= 100 ms,
idle CPU <= 1 % of a core.

Usage: bench/impress_bench.py [--idle SECONDS] [--own]
"""

import argparse
import json
import math
import os
import statistics
import sys
import threading
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "scripts", "impress"))

import session  # noqa: E402


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, math.ceil(share * len(ordered)) - 1)]


def pen_strokes(count=100, points=60):
    """A drawing as the page sends a pen's: count strokes of points points each, wavy."""
    strokes = []
    for s in range(count):
        y0 = 20 + (s * 5) % 500
        pts = ["%.2f %.2f" % (20 + i * 14.5, y0 + 12 * math.sin(i / 4 + s)) for i in range(points)]
        strokes.append("M " + pts[0] + " L " + " L ".join(pts[1:]))
    return " ".join(strokes)


def cpu_seconds(pid):
    """utime + stime of a process, in seconds."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Target:
    def __init__(self, socket_path):
        self.socket_path = socket_path

    def client(self, timeout=60):
        return session.Client(self.socket_path, timeout)

    def request(self, obj, timeout=60):
        c = self.client(timeout)
        try:
            return c.request(obj)
        finally:
            c.close()


def macro(client, name, *args, limit=60000):
    answer = client.request({"op": "macro", "name": "SCBT_Pen." + name, "args": list(args),
                             "limit": limit})
    if answer.get("errn") != 0 or not answer["direct"].startswith("OK|"):
        raise SystemExit("%s failed: %r" % (name, str(answer)[:300]))
    return answer["direct"]


def bench(target, idle_seconds):
    hello = target.request({"op": "hello"})
    target.request({"op": "given", "values": {"reset": True}, "limit": 60000}, timeout=90)
    c = target.client()
    figures = {}

    for _ in range(10):  # warm: modules loaded, accessible objects found
        macro(c, "SCBT_Geom")
    times = []
    for _ in range(200):
        start = time.perf_counter()
        macro(c, "SCBT_Geom")
        times.append((time.perf_counter() - start) * 1000)
    figures["geom_median_ms"] = statistics.median(times)
    figures["geom_p95_ms"] = percentile(times, 0.95)

    path = pen_strokes()
    start = time.perf_counter()
    answer = macro(c, "SCBT_Insert", path, "#1F1F1F", "2", "none", "", "")
    figures["insert_100x60_s"] = time.perf_counter() - start
    figures["insert_shapes"] = int(answer.split("\n", 1)[0][3:])

    macro(c, "SCBT_Slide", "64")  # the first export loads the filter
    times = []
    for _ in range(5):
        start = time.perf_counter()
        macro(c, "SCBT_Slide", "1280")
        times.append((time.perf_counter() - start) * 1000)
    figures["picture_1280_median_ms"] = statistics.median(times)
    c.close()

    watch = target.client(timeout=idle_seconds + 30)
    watch.send_raw(b'{"op": "watch"}\n')
    watch.read_line()
    lines = [0]
    stop = threading.Event()

    def drain():
        while not stop.is_set():
            try:
                watch.read_line()
                lines[0] += 1
            except (OSError, EOFError, ValueError):
                return
    reader = threading.Thread(target=drain, daemon=True)
    reader.start()
    time.sleep(1)  # the reset's last events settle
    lines[0] = 0
    before, start = cpu_seconds(hello["pid"]), time.monotonic()
    time.sleep(idle_seconds)
    used, took = cpu_seconds(hello["pid"]) - before, time.monotonic() - start
    stop.set()
    watch.close()
    figures["idle_cpu_percent"] = used / took * 100
    figures["idle_watch_lines"] = lines[0]
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--idle", type=float, default=20.0, help="seconds of the idle watch")
    parser.add_argument("--own", action="store_true", help="start a session of its own")
    args = parser.parse_args()
    own = None
    socket_path = None
    if not args.own:
        try:
            with open(session.STATE_FILE) as f:
                socket_path = json.load(f)["socket"]
        except (OSError, ValueError, KeyError):
            socket_path = None
    if socket_path is None or not os.path.exists(socket_path):
        own = session.Session()
        own.start()
        socket_path = own.socket_path
    try:
        figures = bench(Target(socket_path), args.idle)
    finally:
        if own is not None:
            own.stop()
    print("SCBT_Geom over 200 calls: median %.2f ms, p95 %.2f ms (target median <= 2 ms)"
          % (figures["geom_median_ms"], figures["geom_p95_ms"]))
    print("SCBT_Insert of 100 pen strokes x 60 points: %.3f s, %d shapes (target <= 1.5 s)"
          % (figures["insert_100x60_s"], figures["insert_shapes"]))
    print("SCBT_Slide at 1280 px: median %.1f ms of 5 (target <= 100 ms)"
          % figures["picture_1280_median_ms"])
    print("soffice CPU, idle with a watch open for %.0f s: %.2f %% of a core, %d lines "
          "(target <= 1 %%)" % (args.idle, figures["idle_cpu_percent"],
                                figures["idle_watch_lines"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
