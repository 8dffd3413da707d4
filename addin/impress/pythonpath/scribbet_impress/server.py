"""The private socket Scribbet talks to; the wire is fixed and both sides build to it.

Socket: a Unix stream socket made by the extension inside soffice at $SCRIBBET_IMPRESS_SOCKET
if set, else $XDG_RUNTIME_DIR/scribbet-impress.sock, else
$TMPDIR-or-/tmp/scribbet-UID/scribbet-impress.sock (folder made 0700, refused when not the
user's own with 0700). Socket file mode 0600. The peer's credentials are checked
(SO_PEERCRED uid == our own uid) on every accepted connection, and others are closed at once.
A stale socket file (nobody listening) is replaced; a live one of another soffice of the same
user is left alone (that soffice keeps serving; this one logs it).

Framing: a request is one line of JSON (an object) ended by "\\n", its answer one line of JSON
ended by "\\n". A connection carries request after request, each answered before the next is
read. Bounds: a request line of at most 64 MiB (placing paths can be large), else the
connection is closed; a request must be complete within 10 s of its first byte, else closed;
at most 8 connections at once (more are closed at accept). A line that is not a JSON object
answers {"error": "sentence"}.

UNO work runs on LibreOffice's main thread, one request at a time: the socket thread posts it
with com.sun.star.awt.AsyncCallback and waits at most the request's "limit" (ms, default 5000,
clamped 100..300000). A job whose wait ran out is dropped: if it has not begun it never runs;
if it has begun it finishes but its answer is dropped. Nothing here blocks LibreOffice's main
thread on a socket.

Ops:
  hello     -> {"host": "impress", "name": "Impress", "version": the extension's version,
                "pid": soffice's pid, "protocol": 1}
  macro     {"name": "SCBT_Pen.SCBT_Geom", "args": [texts], "limit": ms}
            -> {"errn": 0, "direct": "OK|..." or "ERR|sentence"}   the macro ran
            -> {"errn": -1708, "errs": "The macro ... does not exist."}  unknown name or prefix
            -> {"errn": -1712, "errs": "Impress did not answer in time."}
  view      -> the view facts (view.py), read now on the main thread
  watch     -> the connection becomes a stream: one facts line at once, then one each time the
               facts change (VisibleArea and slide events of the current controller, document
               or window changes, window resizes), at most one line per 10 ms; {"closed": true}
               when the watched document's window goes (then the new current document's facts
               follow). Nothing is read after "watch". A client that does not read loses lines:
               the newest facts are sent once it drains; the main thread never waits for it.
  activate  -> {"ok": bool}  brings the current document's window to the front
  quit      -> only with SCRIBBET_IMPRESS_TEST=1 in soffice's environment: {"ok": true}, then
               LibreOffice ends; otherwise {"error": ...}
  given     {"values": {KEY: VALUE}} -> {"ok": bool, "msg": text}  only with
               SCRIBBET_IMPRESS_TEST=1: sets the contract's givens Impress can show (window,
               zoom, fit, slide, slides, slideSize, view); "reset" makes a fresh document.

Every facts line carries "seq", growing by one per facts line on its connection.
"""

import errno
import json
import os
import select
import socket
import stat
import threading
import time

from . import macros
from . import wire
from .logfile import log, log_exception
from .mainthread import TimedOut

LATE = "Impress did not answer in time."
MAX_LATER_TURNS = 4
WATCH_GAP = 0.010
WATCH_POLL = 0.5
WATCH_READ_SECONDS = 2.0


def test_mode(environ=None):
    """True when soffice runs for the extension's tests (quit and given are answered)."""
    return (environ if environ is not None else os.environ).get("SCRIBBET_IMPRESS_TEST") == "1"


class Server:
    """Owns the listening socket and its connections' threads."""

    def __init__(self, host, view, main, hub, listeners=None, hooks=None, environ=None):
        self.host = host
        self.view = view
        self.main = main
        self.hub = hub
        self.listeners = listeners
        self.hooks = hooks
        self.environ = os.environ if environ is None else environ
        self.path = None
        self._sock = None
        self._inode = None
        self._lock = threading.Lock()
        self._connections = set()
        self._stopping = threading.Event()

    # -- the listening socket -------------------------------------------------------------
    def start(self):
        """Binds the socket and starts accepting; False (logged) when this soffice won't serve."""
        path, folder = wire.socket_path(self.environ)
        try:
            if folder:
                wire.ensure_private_folder(folder)
            if not self._clear_stale(path):
                return False
            sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            sock.bind(path)
            os.chmod(path, 0o600)
            sock.listen(16)
        except (OSError, wire.WireError) as e:
            log("the socket cannot be made at %s: %s" % (path, e))
            return False
        self.path, self._sock = path, sock
        self._inode = os.stat(path).st_ino
        threading.Thread(target=self._accept_loop, name="scribbet-accept", daemon=True).start()
        log("serving at %s" % path)
        return True

    @staticmethod
    def _clear_stale(path):
        """Removes a socket file nobody listens at; False when another soffice serves there."""
        try:
            info = os.lstat(path)
        except FileNotFoundError:
            return True
        if not stat.S_ISSOCK(info.st_mode):
            log("%s is there and is not a socket: left alone, not serving" % path)
            return False
        probe = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        probe.settimeout(1.0)
        try:
            probe.connect(path)
        except OSError:
            os.unlink(path)
            return True
        finally:
            probe.close()
        log("another LibreOffice already serves Scribbet at %s: this one does not" % path)
        return False

    def stop(self):
        """Stops accepting, closes every connection and removes the socket file if ours."""
        self._stopping.set()
        sock, self._sock = self._sock, None
        if sock is not None:
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            sock.close()
        if self.path:
            try:
                if os.stat(self.path).st_ino == self._inode:
                    os.unlink(self.path)
            except OSError:
                pass
        with self._lock:
            conns = list(self._connections)
        for conn in conns:
            try:
                conn.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def _accept_loop(self):
        while not self._stopping.is_set():
            try:
                conn, _ = self._sock.accept()
            except OSError:
                if self._stopping.is_set() or self._sock is None:
                    return
                time.sleep(0.05)
                continue
            try:
                if not wire.peer_allowed(wire.peer_uid(conn)):
                    log("a connection of another user was closed")
                    conn.close()
                    continue
            except OSError:
                conn.close()
                continue
            with self._lock:
                if len(self._connections) >= wire.MAX_CONNECTIONS:
                    conn.close()
                    continue
                self._connections.add(conn)
            threading.Thread(target=self._serve, args=(conn,), name="scribbet-conn",
                             daemon=True).start()

    # -- one connection ---------------------------------------------------------------------
    def _serve(self, conn):
        state = {"seq": 0}
        try:
            reader = wire.LineReader(conn)
            while not self._stopping.is_set():
                line = reader.read_line()
                if line is None:
                    return
                request, problem = wire.parse_request(line)
                if problem:
                    self._send(conn, {"error": problem})
                    continue
                if request.get("op") == "watch":
                    self._watch(conn, state)
                    return
                self._send(conn, self.answer(request, state))
        except wire.WireError as e:
            log("connection closed: %s" % e)
        except OSError:
            pass
        except Exception:  # noqa: BLE001 - the thread ends, LibreOffice goes on
            log_exception("connection")
        finally:
            with self._lock:
                self._connections.discard(conn)
            conn.close()

    @staticmethod
    def _send(conn, answer):
        conn.settimeout(30)
        conn.sendall(wire.encode(answer))

    def _on_main(self, work, limit_ms):
        return self.main.call(work, limit_ms / 1000.0)

    def answer(self, request, state):
        """The answer object for one request (every op but watch)."""
        op = request.get("op")
        limit = wire.clamp_limit(request.get("limit", wire.DEFAULT_LIMIT_MS))
        try:
            if op == "hello":
                return {"host": "impress", "name": "Impress", "version": self.host.version,
                        "pid": os.getpid(), "protocol": 1}
            if op == "macro":
                return self._macro(request, limit)
            if op == "view":
                return self._numbered(self._on_main(self._facts, limit), state)
            if op == "activate":
                return {"ok": bool(self._on_main(self._activate, limit))}
            if op in ("quit", "given"):
                if not test_mode(self.environ):
                    return {"error": "The %s request is answered only in the extension's "
                                     "tests." % op}
                if op == "quit":
                    self.main.post(self._terminate)
                    return {"ok": True}
                values = request.get("values")
                if not isinstance(values, dict):
                    return {"ok": False, "msg": "given needs \"values\", an object."}
                ok, msg = self._on_main(lambda: self.hooks.apply(values), limit)
                return {"ok": ok, "msg": msg}
            return {"error": "Unknown request %s." % json.dumps(op)}
        except TimedOut:
            return {"errn": -1712, "errs": LATE} if op == "macro" else {
                "error": LATE, "errn": -1712}
        except Exception as e:  # noqa: BLE001 - a failed request is answered, not dropped
            log_exception("request %s" % json.dumps(op))
            return {"error": "Impress could not answer: %s" % (
                str(e).splitlines() or ["an internal error"])[0]}

    def _macro(self, request, limit):
        name = request.get("name")
        args = request.get("args", [])
        if not isinstance(args, list) or not all(isinstance(a, str) for a in args):
            return {"error": "A macro's \"args\" must be a list of texts."}
        short = macros.known(name)
        if short is None:
            return {"errn": -1708, "errs": "The macro %s does not exist." % json.dumps(
                name if isinstance(name, str) else str(name))}
        deadline = time.monotonic() + limit / 1000.0
        direct = self._on_main(lambda: macros.run(self.host, self.view, short, args), limit)
        for _ in range(MAX_LATER_TURNS):
            if not isinstance(direct, macros.Later):
                break
            left = (deadline - time.monotonic()) * 1000.0
            if left <= 0:
                raise TimedOut()
            direct = self._on_main(direct.then, left)
        if isinstance(direct, macros.Later):
            log("macro %s did not settle in %d turns" % (short, MAX_LATER_TURNS))
            direct = "ERR|" + macros.FAILED % "Impress did not settle"
        return {"errn": 0, "direct": direct}

    def _facts(self):
        try:
            if self.listeners is not None:
                self.listeners.ensure()
            return self.view.facts()
        except Exception:  # noqa: BLE001 - answered as no document rather than thrown
            log_exception("view facts")
            return {"doc": None}

    @staticmethod
    def _numbered(facts, state):
        state["seq"] += 1
        return dict(facts, seq=state["seq"])

    def _activate(self):
        frame = self.host.frame()
        if frame is None:
            return False
        window = frame.getContainerWindow()
        window.setVisible(True)
        window.toFront()
        window.setFocus()
        frame.activate()
        return True

    def _terminate(self):
        try:
            self.stop()
            # Only the tests ask to quit: their documents are thrown away, never asked about
            # in a dialog that nobody will answer.
            frames = self.host.desktop.getFrames()
            for i in range(frames.getCount()):
                controller = frames.getByIndex(i).getController()
                model = controller.getModel() if controller is not None else None
                try:
                    model.setModified(False)
                except Exception:  # noqa: BLE001 - no model, or one that cannot be changed
                    pass
            self.host.desktop.terminate()
        except Exception:  # noqa: BLE001
            log_exception("quit")

    # -- the watch stream -------------------------------------------------------------------
    def _watch(self, conn, state):
        """Streams facts lines until the client goes; never blocks on a slow reader."""
        conn.setblocking(False)
        watched = {"model": None}
        out = bytearray()
        newest = None
        last = None
        sent_at = 0.0
        seen = -1
        while not self._stopping.is_set():
            version = self.hub.version
            if version != seen:
                seen = version
                wait = WATCH_GAP - (time.monotonic() - sent_at)
                if wait > 0:
                    time.sleep(wait)
                try:
                    closed, facts = self._on_main(lambda: self._watch_read(watched),
                                                  WATCH_READ_SECONDS * 1000)
                except TimedOut:
                    closed, facts = False, None
                if facts is not None and (closed or facts != last):
                    lines = []
                    if closed:
                        lines.append(wire.encode({"closed": True}))
                    last = facts
                    if out:
                        newest = lines, facts
                    else:
                        out += b"".join(lines) + wire.encode(self._numbered(facts, state))
                    sent_at = time.monotonic()
            if not self._pump(conn, out):
                return
            if not out and newest is not None:
                lines, facts = newest
                newest = None
                out += b"".join(lines) + wire.encode(self._numbered(facts, state))
                continue
            readable, writable, _ = select.select([conn], [conn] if out else [], [],
                                                  0 if self.hub.version != seen else 0.05)
            if readable:
                try:
                    if not conn.recv(65536):
                        return
                except BlockingIOError:
                    pass
            if not readable and not writable and self.hub.version == seen:
                self.hub.wait(seen, WATCH_POLL)
                if self.hub.version == seen:
                    seen = -1  # no event for a while: look anyway (a move sends none)

    @staticmethod
    def _pump(conn, out):
        """Sends what the socket takes now; False when the client has gone."""
        while out:
            try:
                n = conn.send(out)
            except BlockingIOError:
                return True
            except OSError as e:
                if e.errno in (errno.EAGAIN, errno.EWOULDBLOCK):
                    return True
                return False
            del out[:n]
        return True

    def _watch_read(self, watched):
        """On the main thread: whether the watched document's window went, and the facts."""
        from .host import is_impress
        previous = watched["model"]
        facts = self._facts()
        model = self.host.model()
        closed = previous is not None and not is_impress(previous)
        watched["model"] = model
        return closed, facts
