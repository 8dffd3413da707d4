"""LibreOffice's entry points into the extension: the start-up job and the toolbar commands.

Registered with unohelper's ImplementationHelper; LibreOffice loads this file as a Python UNO
component (META-INF/manifest.xml lists it), with the extension's pythonpath/ on sys.path.
Nothing may escape into LibreOffice from here, so every entry point catches and logs.
"""

import unohelper
from com.sun.star.frame import XDispatch, XDispatchProvider
from com.sun.star.lang import XInitialization, XServiceInfo
from com.sun.star.task import XJob

from scribbet_impress import runtime
from scribbet_impress.logfile import log_exception
from scribbet_impress.ribbon import PROTOCOL

START_IMPL = "com.tarnwell.scribbet.impress.Start"
COMMANDS_IMPL = "com.tarnwell.scribbet.impress.Commands"


class Start(unohelper.Base, XJob):
    """The job LibreOffice runs when it starts: opens the socket Scribbet talks to."""

    def __init__(self, ctx):
        self.ctx = ctx

    def execute(self, args):
        try:
            runtime.get(self.ctx)
        except Exception:  # noqa: BLE001
            log_exception("starting the extension")
        return None


class Commands(unohelper.Base, XDispatchProvider, XDispatch, XInitialization, XServiceInfo):
    """The protocol handler of the toolbar's and the menu's vnd.tarnwell.scribbet: commands."""

    def __init__(self, ctx, *args):
        self.ctx = ctx

    def initialize(self, args):
        pass

    def queryDispatch(self, url, target, flags):
        return self if url.Protocol == PROTOCOL else None

    def queryDispatches(self, requests):
        return tuple(self.queryDispatch(r.FeatureURL, r.FrameName, r.SearchFlags)
                     for r in requests)

    def dispatch(self, url, args):
        try:
            runtime.get(self.ctx).ribbon.press(url.Path)
        except Exception:  # noqa: BLE001
            log_exception("toolbar command %s" % url.Complete)

    def addStatusListener(self, listener, url):
        pass

    def removeStatusListener(self, listener, url):
        pass

    def getImplementationName(self):
        return COMMANDS_IMPL

    def supportsService(self, name):
        return name == "com.sun.star.frame.ProtocolHandler"

    def getSupportedServiceNames(self):
        return ("com.sun.star.frame.ProtocolHandler",)


g_ImplementationHelper = unohelper.ImplementationHelper()
g_ImplementationHelper.addImplementation(Start, START_IMPL, ("com.sun.star.task.Job",))
g_ImplementationHelper.addImplementation(Commands, COMMANDS_IMPL,
                                         ("com.sun.star.frame.ProtocolHandler",))
