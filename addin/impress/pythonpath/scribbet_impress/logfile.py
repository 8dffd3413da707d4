"""A small, bounded log file for what the extension cannot tell anybody else.

Inside soffice nobody reads stderr, and an exception that reaches LibreOffice may take the
program down, so whatever goes wrong is caught and written here instead: one line each,
stamped, under $XDG_STATE_HOME/scribbet/impress.log (~/.local/state when unset). The file
is cut to its newer half once it passes MAX_BYTES, so a loop of failures cannot fill a disk.
"""

import os
import threading
import time
import traceback

MAX_BYTES = 1 << 20

_lock = threading.Lock()


def log_path():
    """The log file's path, following the XDG base directory rules."""
    state = os.environ.get("XDG_STATE_HOME") or os.path.join(
        os.path.expanduser("~"), ".local", "state")
    return os.path.join(state, "scribbet", "impress.log")


def _trim(path):
    try:
        if os.path.getsize(path) <= MAX_BYTES:
            return
        with open(path, "rb") as f:
            f.seek(-(MAX_BYTES // 2), os.SEEK_END)
            tail = f.read()
        cut = tail.find(b"\n")
        with open(path, "wb") as f:
            f.write(tail[cut + 1:] if cut >= 0 else tail)
    except OSError:
        pass


def log(text):
    """Appends one stamped line; never raises (a log that fails must not fail its caller)."""
    try:
        path = log_path()
        line = "%s [%d] %s\n" % (time.strftime("%Y-%m-%d %H:%M:%S"), os.getpid(),
                                 str(text).replace("\n", " | "))
        with _lock:
            os.makedirs(os.path.dirname(path), mode=0o700, exist_ok=True)
            with open(path, "a", encoding="utf-8") as f:
                f.write(line)
            _trim(path)
    except Exception:  # noqa: BLE001 - the last resort has no one left to tell
        pass


def log_exception(what):
    """Logs what was being done and the current exception's traceback on one line."""
    log("%s: %s" % (what, traceback.format_exc(limit=8).strip()))
