#!/usr/bin/python3
"""A real Impress with Scribbet's extension for tests: Xvfb, openbox, a fresh profile, soffice.

Starts an X server on a free display (96 dpi, a screen wide enough for the contract's second
screen), openbox on it, installs build/Scribbet.oxt into a fresh private profile with unopkg,
starts soffice the ordinary way (no --accept: the extension opens its own socket), and waits
until the extension's socket answers hello. Everything it started is ended by pid, also when
a test fails or the process gets SIGTERM.

As a module:   with session.Session() as s: s.request({"op": "hello"})
As a command:  session.py start [DOCUMENT]   (prints the session's facts as JSON)
               session.py stop
"""

import atexit
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
OXT = os.path.join(ROOT, "build", "Scribbet.oxt")
STATE_FILE = os.path.join(tempfile.gettempdir(), "scribbet-impress-session.json")
SCREEN = "3000x1100x24"
NOBODY = 65534
TOOLS = ("soffice", "unopkg", "Xvfb", "openbox", "xdotool")
PROFILE_SETTINGS = """<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry"
           xmlns:xs="http://www.w3.org/2001/XMLSchema"
           xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Impress/Misc/NewDoc"><prop oor:name="AutoPilot" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="ShowTipOfTheDay" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="FirstRun" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Save/Document"><prop oor:name="WarnAlienFormat" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Recovery/RecoveryInfo"><prop oor:name="Enabled" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseSystemFileDialog" oor:op="fuse"><value>false</value></prop></item>
</oor:items>
"""


def note_pid(pid):
    """Writes a started process group's pid where the test script that runs us ends it, even
    when this process is killed before its own clean-up could run."""
    _note("%d" % pid)


def note_folder(path):
    """Writes a folder made for a session (profile, socket, log) where the test script
    removes it, for the same reason."""
    _note(os.path.abspath(path))


def _note(line):
    path = os.environ.get("SCRIBBET_IMPRESS_PIDS")
    if path:
        try:
            with open(path, "a") as f:
                f.write(line + "\n")
        except OSError:
            pass


_shared = None


def shared():
    """One session for every test of this process: starting soffice costs seconds, so test
    files share it and reset the document between cases. Ended when the process exits."""
    global _shared
    if _shared is None or not _shared.alive():
        if _shared is not None:
            _shared.stop()
        _shared = Session()
        _shared.start()
    return _shared


class SessionError(Exception):
    """The session could not be started; the text says why in one sentence."""


def missing_tools():
    """The programs a session needs that are not installed."""
    return [tool for tool in TOOLS if shutil.which(tool) is None]


def free_display(start=70):
    """A display number nobody uses (no lock file, no socket)."""
    for n in range(start, start + 200):
        if not os.path.exists("/tmp/.X%d-lock" % n) and not os.path.exists(
                "/tmp/.X11-unix/X%d" % n):
            return n
    raise SessionError("No free X display number was found.")


class Client:
    """One connection to the extension's socket: one JSON line out, one in."""

    def __init__(self, path, timeout=30.0):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            self.sock.settimeout(timeout)
            self.sock.connect(path)
        except BaseException:
            self.sock.close()
            raise
        self._buffer = b""

    def send_raw(self, data):
        self.sock.sendall(data)

    def read_line(self):
        """The next line as parsed JSON; raises EOFError when the extension closed."""
        while b"\n" not in self._buffer:
            chunk = self.sock.recv(1 << 20)
            if not chunk:
                raise EOFError("the extension closed the connection")
            self._buffer += chunk
        line, self._buffer = self._buffer.split(b"\n", 1)
        return json.loads(line)

    def request(self, obj):
        self.send_raw((json.dumps(obj) + "\n").encode())
        return self.read_line()

    def close(self):
        self.sock.close()


def install_extension(oxt, folder, profile, env):
    """Installs oxt with unopkg into a fresh profile at `profile` (inside `folder`), quiet on
    first start; gives the profile's URL for -env:UserInstallation."""
    os.makedirs(os.path.join(profile, "user"))
    profile_url = "file://" + profile
    argv = ["unopkg", "add", "--suppress-license", "-env:UserInstallation=" + profile_url, oxt]
    if os.geteuid() == 0:
        # unopkg refuses to add a user's extension as root; add it as an ordinary user
        # into a profile that user owns (soffice, as root, still reads and writes it).
        copy = os.path.join(folder, "Scribbet.oxt")
        shutil.copyfile(oxt, copy)
        for parent, dirs, files in os.walk(folder):
            for name in dirs + files:
                os.chown(os.path.join(parent, name), NOBODY, NOBODY)
        os.chown(folder, NOBODY, NOBODY)
        env = dict(env, HOME=folder)
        argv = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups"] \
            + argv[:-1] + [copy]
    done = subprocess.run(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=120)
    if done.returncode != 0:
        raise SessionError("unopkg failed: %s" % done.stdout.decode(errors="replace")[-800:])
    _settle_profile(profile)
    return profile_url


def _settle_profile(profile):
    """Adds the settings that keep first-start dialogs away to the profile unopkg made."""
    path = os.path.join(profile, "user", "registrymodifications.xcu")
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except FileNotFoundError:
        text = ""
    items = PROFILE_SETTINGS.split("\n", 4)[4].rsplit("</oor:items>", 1)[0]
    if "</oor:items>" in text:
        text = text.replace("</oor:items>", items + "</oor:items>")
    else:
        text = PROFILE_SETTINGS
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def default_socket(env):
    """Where the extension listens when nothing says otherwise (as Scribbet looks for it)."""
    if env.get("SCRIBBET_IMPRESS_SOCKET"):
        return env["SCRIBBET_IMPRESS_SOCKET"]
    if env.get("XDG_RUNTIME_DIR"):
        return os.path.join(env["XDG_RUNTIME_DIR"], "scribbet-impress.sock")
    return os.path.join(env.get("TMPDIR") or "/tmp", "scribbet-%d" % os.getuid(),
                        "scribbet-impress.sock")


def impress_hello(env):
    """The extension's hello at its usual place, or None while nobody answers there."""
    try:
        client = Client(default_socket(env), timeout=2)
        try:
            answer = client.request({"op": "hello"})
        finally:
            client.close()
        return answer if answer.get("host") == "impress" else None
    except (OSError, ValueError, EOFError):
        return None


class Session:
    """Xvfb + openbox + soffice with the extension; use with `with` or start()/stop()."""

    def __init__(self, document=None, environ=None, oxt=OXT, build=True):
        self.document = document
        self.extra_env = dict(environ or {})
        self.oxt = oxt
        self.build = build
        self.procs = {}
        self.tmp = None
        self.display = None
        self.socket_path = None
        self.env = None

    # -- life ---------------------------------------------------------------------------
    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self, wait=90.0):
        missing = missing_tools()
        if missing:
            raise SessionError("Impress tests need %s; scripts/setup.sh installs them."
                               % ", ".join(missing))
        atexit.register(self.stop)
        previous = signal.getsignal(signal.SIGTERM)

        def on_term(signum, frame):
            self.stop()
            if callable(previous):
                previous(signum, frame)
            # Not sys.exit: a test runner takes SystemExit for one test's error and goes on,
            # starting soffice again.
            os._exit(143)
        try:
            signal.signal(signal.SIGTERM, on_term)
        except ValueError:  # not the main thread: atexit still ends the processes
            pass
        self.tmp = tempfile.mkdtemp(prefix="scribbet-impress-")
        note_folder(self.tmp)
        try:
            if self.build or not os.path.exists(self.oxt):
                self._run([sys.executable, os.path.join(ROOT, "scripts", "impress",
                                                        "build-oxt.py"), "--out", self.oxt])
            self._start_x()
            self._install()
            self._start_soffice()
            self._wait_for_hello(wait)
        except BaseException:
            self.stop()
            raise

    def _run(self, argv, env=None, timeout=120):
        done = subprocess.run(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout)
        if done.returncode != 0:
            raise SessionError("%s failed: %s" % (os.path.basename(argv[0]),
                                                  done.stdout.decode(errors="replace")[-800:]))

    def _start_x(self):
        self.display = ":%d" % free_display()
        self.procs["xvfb"] = subprocess.Popen(
            ["Xvfb", self.display, "-screen", "0", SCREEN, "-dpi", "96", "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        note_pid(self.procs["xvfb"].pid)
        sock = "/tmp/.X11-unix/X%s" % self.display[1:]
        deadline = time.monotonic() + 15
        while not os.path.exists(sock):
            if self.procs["xvfb"].poll() is not None or time.monotonic() > deadline:
                raise SessionError("Xvfb did not start on %s." % self.display)
            time.sleep(0.05)
        env = dict(os.environ, DISPLAY=self.display)
        self.procs["openbox"] = subprocess.Popen(["openbox"], env=env, stdout=subprocess.DEVNULL,
                                                 stderr=subprocess.DEVNULL,
                                                 start_new_session=True)
        note_pid(self.procs["openbox"].pid)
        time.sleep(0.3)

    def _install(self):
        self.profile = os.path.join(self.tmp, "profile")
        self.profile_url = install_extension(self.oxt, self.tmp, self.profile,
                                             dict(os.environ, DISPLAY=self.display))

    def _start_soffice(self):
        self.socket_path = os.path.join(self.tmp, "scribbet-impress.sock")
        self.state_home = os.path.join(self.tmp, "state")
        self.env = dict(os.environ, DISPLAY=self.display, SCRIBBET_IMPRESS_TEST="1",
                        SCRIBBET_IMPRESS_SOCKET=self.socket_path, XDG_STATE_HOME=self.state_home,
                        SAL_USE_VCLPLUGIN="gen")
        self.env.update(self.extra_env)
        argv = ["soffice", "-env:UserInstallation=" + self.profile_url, "--norestore",
                "--nologo", "--nolockcheck"]
        argv += [self.document] if self.document else ["--impress"]
        self.procs["soffice"] = subprocess.Popen(argv, env=self.env, stdout=subprocess.DEVNULL,
                                                 stderr=subprocess.DEVNULL,
                                                 start_new_session=True)
        note_pid(self.procs["soffice"].pid)

    def _wait_for_hello(self, wait):
        deadline = time.monotonic() + wait
        while time.monotonic() < deadline:
            if self.procs["soffice"].poll() is not None and not self._group_alive():
                raise SessionError("soffice ended before the extension answered.")
            try:
                client = Client(self.socket_path, timeout=5)
                try:
                    hello = client.request({"op": "hello"})
                finally:
                    client.close()
                # The first document's window may come after the extension answers: a
                # test that reset the document before it came would find two windows.
                if hello.get("host") == "impress" and self.request(
                        {"op": "view"}, timeout=10).get("doc") is not None:
                    self.hello = hello
                    return
            except (OSError, ValueError, EOFError):
                pass
            time.sleep(0.2)
        raise SessionError("The extension's socket did not answer hello within %d s (log: %s)."
                           % (wait, self.log_path()))

    def alive(self):
        """True while soffice runs and its extension's socket file is there."""
        proc = self.procs.get("soffice")
        return (proc is not None and self._group_alive() and self.socket_path is not None
                and os.path.exists(self.socket_path))

    def _group_alive(self):
        proc = self.procs.get("soffice")
        if proc is None:
            return False
        try:
            os.killpg(proc.pid, 0)
            return True
        except OSError:
            return False

    def log_path(self):
        return os.path.join(self.tmp or "", "state", "scribbet", "impress.log")

    def log_text(self):
        try:
            with open(self.log_path(), encoding="utf-8") as f:
                return f.read()
        except OSError:
            return ""

    def stop(self):
        """Ends soffice (politely first), openbox and Xvfb, each by its pid."""
        proc = self.procs.pop("soffice", None)
        if proc is not None:
            try:
                if self.socket_path and os.path.exists(self.socket_path):
                    self.request({"op": "quit"}, timeout=5)
                proc.wait(timeout=15)
            except (OSError, ValueError, EOFError, subprocess.TimeoutExpired):
                pass
            deadline = time.monotonic() + 10
            self.procs["soffice"] = proc
            while self._group_alive() and time.monotonic() < deadline:
                time.sleep(0.1)
            if self._group_alive():
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                except OSError:
                    pass
            self.procs.pop("soffice", None)
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass
        for name in ("openbox", "xvfb"):
            proc = self.procs.pop(name, None)
            if proc is not None and proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
        if self.tmp and not os.environ.get("SCRIBBET_KEEP_SESSION"):
            shutil.rmtree(self.tmp, ignore_errors=True)
            self.tmp = None

    # -- talking to the extension ---------------------------------------------------------
    def client(self, timeout=30.0):
        return Client(self.socket_path, timeout)

    def request(self, obj, timeout=30.0):
        client = self.client(timeout)
        try:
            return client.request(obj)
        finally:
            client.close()

    def macro(self, name, *args, limit=None):
        request = {"op": "macro", "name": "SCBT_Pen." + name, "args": list(args)}
        if limit is not None:
            request["limit"] = limit
        return self.request(request)

    def given(self, **values):
        answer = self.request({"op": "given", "values": values, "limit": 60000}, timeout=90)
        if not answer.get("ok"):
            raise SessionError("given %r: %r" % (values, answer))
        return answer

    def view(self):
        return self.request({"op": "view"})

    def open(self, document=None, read_only=False, wait=20.0):
        """Opens document (a new presentation when None) in the running soffice the way a
        user's second start does: soffice hands it to the first one and exits. Waits until
        the extension's facts show a document other than the current one; returns them."""
        before = self.view().get("doc")
        argv = ["soffice", "-env:UserInstallation=" + self.profile_url, "--norestore",
                "--nologo"]
        argv += (["--view"] if read_only else []) + ([document] if document else ["--impress"])
        subprocess.run(argv, env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=wait)
        deadline = time.monotonic() + wait
        while time.monotonic() < deadline:
            facts = self.view()
            if facts.get("doc") not in (None, before):
                return facts
            time.sleep(0.2)
        raise SessionError("soffice did not show %s within %d s." % (
            document or "a new presentation", wait))

    def xdotool(self, *args):
        return subprocess.run(["xdotool"] + list(args), env=dict(os.environ,
                                                                 DISPLAY=self.display),
                              capture_output=True, text=True, timeout=30)


def _command(argv):
    if len(argv) < 2 or argv[1] not in ("start", "stop"):
        print(__doc__.strip().splitlines()[-2].strip(), file=sys.stderr)
        return 2
    if argv[1] == "start":
        session = Session(argv[2] if len(argv) > 2 else None)
        try:
            session.start()
        except SessionError as e:
            print("session: %s" % e, file=sys.stderr)
            return 1
        atexit.unregister(session.stop)
        facts = {"display": session.display, "socket": session.socket_path, "tmp": session.tmp,
                 "pids": {k: p.pid for k, p in session.procs.items()}}
        with open(STATE_FILE, "w") as f:
            json.dump(facts, f)
        print(json.dumps(facts))
        return 0
    try:
        with open(STATE_FILE) as f:
            facts = json.load(f)
    except (OSError, ValueError):
        print("session: no session was started", file=sys.stderr)
        return 1
    try:
        client = Client(facts["socket"], timeout=5)
        client.request({"op": "quit"})
        client.close()
        time.sleep(2)
    except (OSError, ValueError, EOFError):
        pass
    soffice = facts["pids"].get("soffice")
    if soffice:
        try:
            os.killpg(soffice, signal.SIGKILL)
        except OSError:
            pass
    for name in ("openbox", "xvfb"):
        pid = facts["pids"].get(name)
        if pid:
            try:
                os.kill(pid, signal.SIGTERM)
            except OSError:
                pass
    shutil.rmtree(facts.get("tmp") or "/nonexistent", ignore_errors=True)
    os.unlink(STATE_FILE)
    return 0


if __name__ == "__main__":
    sys.exit(_command(sys.argv))
