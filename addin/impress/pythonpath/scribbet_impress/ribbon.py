"""The Scribbet toolbar and menu: measure the slide now, then start Scribbet with a link.

Each command builds the geometry answer while the window the user pressed the button in is
still the current one (so Scribbet need not ask again before it opens its layer), puts it and
the tool into scribbet://draw?g=...&tool=..., and runs the `scribbet` program with that link.
Finding the program and waiting for it happen on a thread of their own: the main thread
never waits for a child process. When no Scribbet can be found the user is told so, in one
sentence, on the main thread.
"""

import os
import shutil
import subprocess
import threading

from . import geometry
from .logfile import log, log_exception

TITLE = "Scribbet"
NOT_INSTALLED = ("Scribbet is not installed: install it as described in \"Installing Scribbet\" "
                 "in the README of the Scribbet extension for Impress, then press the button "
                 "again.")

# command (the part of the toolbar's URL after the protocol) -> the tool Scribbet opens with
TOOLS = {
    "Pen": "pen",
    "Highlighter": "highlighter",
    "Line": "shape:line",
    "Rectangle": "shape:rect",
    "Ellipse": "shape:ellipse",
    "Select": "select",
    "EditPoints": "direct",
}
PROTOCOL = "vnd.tarnwell.scribbet:"
UNRESERVED = frozenset(b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~")


def percent_encode(text):
    """Percent-encodes text's UTF-8 bytes, leaving RFC 3986's unreserved characters as they
    are, as the PowerPoint add-in does; a lone surrogate becomes U+FFFD."""
    data = "".join("\ufffd" if 0xD800 <= ord(c) <= 0xDFFF else c for c in text).encode("utf-8")
    return "".join(chr(b) if b in UNRESERVED else "%%%02X" % b for b in data)


def draw_link(fields, tool):
    """The link the toolbar opens: the geometry answer's fields (may be empty) and the tool."""
    return "scribbet://draw?g=%s&tool=%s" % (percent_encode(fields), percent_encode(tool))


def geometry_fields(answer):
    """(fields, sentence): the link's fields from a SCBT_Geom answer, or the user's sentence.

    An "ERR|" answer is told to the user, since asking again would only repeat it; an answer
    of any other form sends no geometry, and Scribbet asks for it itself.
    """
    if answer.startswith("ERR|"):
        return None, answer[4:]
    if answer.startswith("OK|"):
        return answer[3:], None
    return "", None


def _xdg_handler(run=subprocess.run):
    try:
        done = run(["xdg-mime", "query", "default", "x-scheme-handler/scribbet"],
                   capture_output=True, text=True, timeout=10)
    except (OSError, subprocess.SubprocessError):
        return False
    return done.returncode == 0 and bool(done.stdout.strip())


def _executable(path):
    return bool(path) and os.path.isfile(path) and os.access(path, os.X_OK)


def launcher(environ=None, which=shutil.which, executable=_executable, xdg=_xdg_handler):
    """The command that opens a link, as a list to which the link is added; None if none.

    SCRIBBET_BIN, then `scribbet` on PATH, then ~/.local/bin/scribbet, then xdg-open when the
    desktop names a handler for scribbet: links.
    """
    environ = os.environ if environ is None else environ
    given = environ.get("SCRIBBET_BIN")
    if given:
        return [given] if executable(given) else None
    found = which("scribbet", path=environ.get("PATH"))
    if found:
        return [found]
    home = environ.get("HOME") or os.path.expanduser("~")
    local = os.path.join(home, ".local", "bin", "scribbet")
    if executable(local):
        return [local]
    opener = which("xdg-open", path=environ.get("PATH"))
    if opener and xdg():
        return [opener]
    return None


class Ribbon:
    """Runs the toolbar's commands (main thread) and starts Scribbet (its own thread)."""

    def __init__(self, host, view, main, environ=None, show=None):
        self.host = host
        self.view = view
        self.main = main
        self.environ = environ
        self._show = show or self._message_box

    def press(self, command):
        """A toolbar or menu command: the part of its URL after the protocol."""
        tool = TOOLS.get(command)
        if tool is None:
            log("unknown Scribbet command %r" % command)
            return
        try:
            answer = geometry.geometry_answer(self.view.facts())
        except Exception:  # noqa: BLE001 - Scribbet measures for itself then
            log_exception("toolbar geometry")
            answer = ""
        fields, sentence = geometry_fields(answer)
        if sentence is not None:
            self._show(sentence)
            return
        link = draw_link(fields, tool)
        threading.Thread(target=self._start, args=(link,), name="scribbet-start",
                         daemon=True).start()

    def _start(self, link):
        try:
            command = launcher(self.environ)
            if command is None:
                log("no Scribbet to start for %s" % link)
                self.main.post(lambda: self._show(NOT_INSTALLED))
                return
            child = subprocess.Popen(command + [link], stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     start_new_session=True)
            code = child.wait()
            if code != 0:
                log("%s ended with status %d" % (command[0], code))
        except OSError as e:
            log("Scribbet could not be started: %s" % e)
            self.main.post(lambda: self._show(NOT_INSTALLED))
        except Exception:  # noqa: BLE001
            log_exception("starting Scribbet")

    def _message_box(self, sentence):
        """Shows sentence in a message box over the current Impress window (main thread)."""
        log("told the user: %s" % sentence)
        try:
            from com.sun.star.awt.MessageBoxType import WARNINGBOX
            from com.sun.star.awt.MessageBoxButtons import BUTTONS_OK
            frame = self.host.frame() or self.host.desktop.getCurrentFrame()
            parent = frame.getContainerWindow() if frame is not None else None
            toolkit = self.host.smgr.createInstanceWithContext("com.sun.star.awt.Toolkit",
                                                               self.host.ctx)
            box = toolkit.createMessageBox(parent, WARNINGBOX, BUTTONS_OK, TITLE, sentence)
            box.execute()
            box.dispose()
        except Exception:  # noqa: BLE001 - the sentence is in the log at least
            log_exception("message box")
