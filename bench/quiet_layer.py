#!/usr/bin/python3
"""What an open layer left alone costs, and how soon it follows a zoom, with the real programs.

Impress: a session of scripts/impress/session.py (Xvfb, openbox, soffice with the extension),
xcompmgr, and Scribbet started from the toolbar's link. Once the layer shows, the processor time
of Scribbet (with its WebKit processes) and of soffice is read from /proc over SECONDS seconds
while nothing moves. Then the zoom is changed back and forth ROUNDS times: for each, the time
from the facts line the extension streams for the change (Impress's VisibleArea event, at most
10 ms later) to the first screen reading that shows the layer's slide frame at its new place.

Stand-in: the same idle figure for the layer over the desktop stand-in (Xvfb, xcompmgr, the
stand-in's window, Scribbet with SCRIBBET_HOST=standin), for comparison.

    bench/quiet_layer.py [--seconds 20] [--rounds 10] [--only impress|standin]

Needs build/scribbet and build/scribbet-standin (scripts/test.sh builds them).
"""

import argparse
import json
import os
import socket as sockets
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "scripts", "impress"))
sys.path.insert(0, os.path.join(ROOT, "addin", "impress", "pythonpath"))

import road  # noqa: E402
import session  # noqa: E402
import xshot  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")
STANDIN = os.path.join(ROOT, "build", "scribbet-standin")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime, stime


def children(pid):
    """Every process below pid (WebKit's web and network processes)."""
    parents = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/stat" % entry) as f:
                    parents[int(entry)] = int(f.read().rsplit(")", 1)[1].split()[1])
            except OSError:
                pass
    out, todo = [], [pid]
    while todo:
        p = todo.pop()
        kids = [c for c, parent in parents.items() if parent == p]
        out += kids
        todo += kids
    return out


def idle_share(groups, seconds):
    """{name: percent of one core} over `seconds` for each group of processes."""
    before = {name: sum(cpu_seconds(p) for p in pids) for name, pids in groups.items()}
    time.sleep(seconds)
    after = {name: sum(cpu_seconds(p) for p in pids) for name, pids in groups.items()}
    return {name: 100 * (after[name] - before[name]) / seconds for name in groups}


def wait(check, limit, what):
    deadline = time.monotonic() + limit
    while not check():
        if time.monotonic() > deadline:
            raise SystemExit("quiet_layer: %s" % what)
        time.sleep(0.1)


def frame_left_at(display, x, y):
    """Whether the layer's frame shows in the column at x (a 5 by 60 pixel reading)."""
    shot = xshot.grab(display, x - 2, y - 30, 5, 60)
    return any(road.bluish(shot.pixel(xx, yy)) for xx in range(x - 1, x + 2)
               for yy in range(y - 30, y + 29))


def follow_latency(s, rounds):
    """Milliseconds from each zoom's facts line to the frame's new left edge on the screen.

    The facts are read on a thread that notes when each line arrives; the screen is read
    meanwhile, from before the zoom is asked for, at the left edge the new zoom puts the
    slide's frame (learnt first, once for each zoom)."""
    watch = session.Client(s.socket_path, timeout=60)
    watch.send_raw(b'{"op": "watch"}\n')
    lines = []

    def read():
        try:
            while True:
                line = watch.read_line()
                if line.get("slide"):
                    lines.append((time.monotonic(), line))
        except (OSError, EOFError, ValueError):
            pass
    threading.Thread(target=read, daemon=True).start()

    def zoom(value):
        answer = s.request({"op": "given", "values": {"zoom": value}, "limit": 60000},
                           timeout=90)
        if not answer.get("ok"):
            raise SystemExit("quiet_layer: zoom: %r" % answer)
    zooms = (50, 67)  # both leave the slide's left edge inside the editor
    zoom(zooms[1])
    time.sleep(1)
    out = []
    for i in range(rounds):
        z = zooms[i % 2]
        asked = time.monotonic()
        asking = threading.Thread(target=zoom, args=(z,))
        asking.start()
        deadline = asked + 3
        line = None
        while line is None and time.monotonic() < deadline:
            time.sleep(0.001)
            line = next(((t, f) for t, f in list(lines)
                         if t >= asked and abs(f["scale"] * 100 - z) < 5), None)
        if line is None:
            raise SystemExit("quiet_layer: no facts for zoom %d" % z)
        event, facts = line
        x, y = int(round(facts["slide"][0])), int(facts["slide"][1] + facts["slide"][3] / 2)
        while not frame_left_at(s.display, x, y) and time.monotonic() < deadline:
            time.sleep(0.002)  # leave the two cores to the programs measured
        shown = time.monotonic()
        asking.join()
        out.append(1000 * (shown - event))
        if os.environ.get("QUIET_DEBUG"):
            print("zoom", z, "edge", (x, y), "event +%.0f ms" % (1000 * (event - asked)),
                  "shown +%.0f ms" % (1000 * (shown - asked)), file=sys.stderr)
        time.sleep(0.5)
    watch.close()
    return out


def bench_impress(seconds, rounds):
    from scribbet_impress import ribbon
    port = road.free_port()
    s, home = road.with_scribbet(port)
    compositor = None
    try:
        s.start()
        compositor = road.start_compositor(s.env)
        s.given(reset=True)
        fields, _ = ribbon.geometry_fields(s.macro("SCBT_Geom")["direct"])
        # The toolbar's own start: the extension runs Scribbet with the link (see ribbon.py).
        subprocess.Popen([road.SCRIBBET, ribbon.draw_link(fields, "pen")], env=s.env,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         start_new_session=True)
        wait(lambda: road.layer_mapped(s.env), 30, "no layer over Impress")
        time.sleep(3)  # the page has loaded and settled
        scribbet = road.scribbet_pids(s)
        soffice = [int(p) for p in subprocess.run(
            ["pgrep", "-f", "soffice.bin.*" + s.profile_url], stdout=subprocess.PIPE,
            text=True).stdout.split()]
        shares = idle_share({"Scribbet": scribbet + children(scribbet[0]),
                             "Scribbet alone": scribbet, "soffice": soffice}, seconds)
        latency = follow_latency(s, rounds)
        return shares, latency
    finally:
        road.end(road.scribbet_pids(s))
        if compositor:
            compositor.terminate()
        s.stop()
        road.remove(home)


def bench_standin(seconds):
    tmp = tempfile.mkdtemp(prefix="scribbet-quiet-")
    procs = []
    try:
        display = ":%d" % session.free_display(150)
        procs.append(subprocess.Popen(["Xvfb", display, "-screen", "0", "1600x1000x24",
                                       "-nolisten", "tcp"], stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL))
        wait(lambda: os.path.exists("/tmp/.X11-unix/X" + display[1:]), 15, "no Xvfb")
        port = road.free_port()
        os.makedirs(os.path.join(tmp, "run"), mode=0o700)
        socket_path = os.path.join(tmp, "run", "standin.sock")
        env = dict(os.environ, DISPLAY=display, HOME=tmp, XDG_RUNTIME_DIR=tmp + "/run",
                   SCRIBBET_STANDIN_SOCKET=socket_path, SCRIBBET_TEST="1",
                   SCRIBBET_PORT=str(port), SCRIBBET_HOST="standin",
                   GSETTINGS_BACKEND="memory", NO_AT_BRIDGE="1")
        procs.append(road.start_compositor(env))
        standin = subprocess.Popen([STANDIN, "serve", "--socket", socket_path], env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs.append(standin)

        def call(request):
            with sockets.socket(sockets.AF_UNIX) as c:
                c.settimeout(10)
                c.connect(socket_path)
                c.sendall((json.dumps(request) + "\n").encode())
                data = b""
                while not data.endswith(b"\n"):
                    data += c.recv(65536)
                return json.loads(data)
        wait(lambda: os.path.exists(socket_path), 15, "no stand-in")
        time.sleep(1)
        geom = call({"op": "macro", "name": "SCBT_Pen.SCBT_Geom", "args": []})["direct"][3:]
        scribbet = subprocess.Popen(
            [road.SCRIBBET, "scribbet://draw?g=%s&tool=pen" % urllib.parse.quote(geom, safe="")],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs.append(scribbet)
        wait(lambda: road.layer_mapped(env), 30, "no layer over the stand-in")
        time.sleep(3)
        return idle_share({"Scribbet": [scribbet.pid] + children(scribbet.pid),
                           "Scribbet alone": [scribbet.pid], "stand-in": [standin.pid]}, seconds)
    finally:
        for p in reversed(procs):
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
        road.remove(tmp)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--rounds", type=int, default=10)
    parser.add_argument("--only", choices=("impress", "standin"))
    args = parser.parse_args()
    if args.only != "standin":
        shares, latency = bench_impress(args.seconds, args.rounds)
        for name, share in shares.items():
            print("impress  idle layer: %-15s %.2f %% of a core over %g s" % (
                name, share, args.seconds))
        print("impress  zoom followed: median %.1f ms, max %.1f ms over %d zooms "
              "(facts line to the frame on the screen)" % (
                  statistics.median(latency), max(latency), len(latency)))
    if args.only != "impress":
        for name, share in bench_standin(args.seconds).items():
            print("standin  idle layer: %-15s %.2f %% of a core over %g s" % (
                name, share, args.seconds))


if __name__ == "__main__":
    main()
