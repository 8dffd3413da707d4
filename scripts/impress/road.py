"""Scribbet beside a real Impress, for the road test and the benchmarks: a Scribbet started by
the extension inherits soffice's environment, so its folders are made private before soffice
starts; its processes are found by that environment, and its layer and slide frame on the
screen by X.
"""

import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

import session

ROOT = session.ROOT
SCRIBBET = os.path.join(ROOT, "build", "scribbet")
LAYER_TITLE = "Scribbet drawing layer"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def bluish(c):
    """The layer's dashed slide frame, over Impress's slide or its edge."""
    r, g, b = c
    return b >= 150 and b - r >= 60 and b - g >= 35


def private_folders():
    """(folder, environment) for a Scribbet of its own: XDG folders in a fresh folder, which
    the test script removes even when this process is killed."""
    home = tempfile.mkdtemp(prefix="scribbet-road-")
    session.note_folder(home)
    env = {}
    for name in ("RUNTIME_DIR", "DATA_HOME", "CONFIG_HOME", "CACHE_HOME"):
        env["XDG_" + name] = os.path.join(home, name.lower())
        os.makedirs(env["XDG_" + name], mode=0o700)
    return home, env


def with_scribbet(port, extra=None):
    """A Session whose soffice starts this build's Scribbet on its own port, and the folder
    to remove after it."""
    home, env = private_folders()
    env.update(SCRIBBET_BIN=SCRIBBET, SCRIBBET_PORT=str(port), GSETTINGS_BACKEND="memory",
               NO_AT_BRIDGE="1")
    env.update(extra or {})
    return session.Session(environ=env), home


def pids_of(executable, mark):
    """Processes running `executable` whose environment holds the line `mark`."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            if os.readlink("/proc/%s/exe" % entry) != os.path.realpath(executable):
                continue
            with open("/proc/%s/environ" % entry, "rb") as f:
                if mark.encode() in f.read().split(b"\0"):
                    found.append(int(entry))
        except OSError:
            continue
    return found


def scribbet_pids(s):
    return pids_of(SCRIBBET, "SCRIBBET_IMPRESS_SOCKET=%s" % s.socket_path)


def end(pids, wait=10.0):
    for pid in pids:
        try:
            os.kill(pid, signal.SIGTERM)
        except OSError:
            pass
    deadline = time.monotonic() + wait
    while any(os.path.exists("/proc/%d" % p) for p in pids) and time.monotonic() < deadline:
        time.sleep(0.1)
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass


def start_compositor(env):
    proc = subprocess.Popen(["xcompmgr"], env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True)
    session.note_pid(proc.pid)
    return proc


def layer_mapped(env):
    done = subprocess.run(["xwininfo", "-name", LAYER_TITLE], env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=10)
    return b"IsViewable" in done.stdout


def remove(folder):
    shutil.rmtree(folder, ignore_errors=True)
