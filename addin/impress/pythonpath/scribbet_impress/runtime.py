"""Puts the pieces together once per soffice: host, view, main-thread runner, socket, toolbar.

LibreOffice starts it through the start-up job (and the toolbar's first press, whichever comes
first); start() is idempotent. The socket is removed when LibreOffice terminates.
"""

import threading

import unohelper
from com.sun.star.frame import XTerminateListener

from .host import Host
from .logfile import log, log_exception
from .mainthread import MainThread, uno_poster
from .ribbon import Ribbon
from .server import Server
from .testhooks import Hooks
from .version import VERSION
from .view import View
from .watch import Hub, Listeners

_lock = threading.Lock()
_runtime = None


class _OnTerminate(unohelper.Base, XTerminateListener):
    def __init__(self, runtime):
        self._runtime = runtime

    def queryTermination(self, event):
        pass

    def notifyTermination(self, event):
        try:
            self._runtime.stop()
        except Exception:  # noqa: BLE001
            log_exception("stopping")

    def disposing(self, source):
        pass


class Runtime:
    """Everything the extension runs, made on LibreOffice's main thread."""

    def __init__(self, ctx):
        self.host = Host(ctx, VERSION)
        self.view = View(self.host)
        self.main = MainThread(uno_poster(ctx))
        self.hub = Hub()
        self.listeners = Listeners(self.host, self.view, self.hub)
        self.hooks = Hooks(self.host, self.view)
        self.server = Server(self.host, self.view, self.main, self.hub, self.listeners,
                             self.hooks)
        self.ribbon = Ribbon(self.host, self.view, self.main)
        self._terminate = _OnTerminate(self)

    def start(self):
        self.host.desktop.addTerminateListener(self._terminate)
        self.server.start()
        self.main.post(self.listeners.start)

    def stop(self):
        self.listeners.stop()
        self.server.stop()
        log("stopped")


def get(ctx):
    """The one Runtime of this soffice, started on first use."""
    global _runtime
    with _lock:
        if _runtime is None:
            runtime = Runtime(ctx)
            runtime.start()
            _runtime = runtime
        return _runtime
