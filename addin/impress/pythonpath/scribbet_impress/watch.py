"""Telling the socket threads that the view changed, from LibreOffice's own events.

LibreOffice calls the listeners here on its main thread; all they do is note the change in a
Hub (a counter under a condition, held for a moment) and, for the zoom, keep or clear the
remembered Fit. The watch streams wait on the Hub on their own threads and read the new facts
through the main-thread runner, so an event never waits for a client.

The UNO listener objects hold their owner weakly: LibreOffice may keep a listener after the
extension dropped it, and a strong reference would keep the whole server alive through it.
"""

import threading
import weakref

import unohelper
from com.sun.star.awt import XWindowListener
from com.sun.star.beans import XPropertyChangeListener
from com.sun.star.document import XDocumentEventListener
from com.sun.star.drawing.framework import XConfigurationChangeListener

DOCUMENT_EVENTS = {"OnFocus", "OnLoad", "OnNew", "OnViewCreated", "OnPrepareViewClosing",
                   "OnViewClosed", "OnUnload", "OnTitleChanged", "OnSaveAsDone",
                   "OnPageCountChange"}
CONTROLLER_PROPERTIES = ("VisibleArea", "CurrentPage")


class Hub:
    """A change counter that threads can wait on."""

    def __init__(self):
        self._cond = threading.Condition()
        self.version = 0

    def bump(self):
        """Notes one change and wakes every waiting stream."""
        with self._cond:
            self.version += 1
            self._cond.notify_all()

    def wait(self, seen, seconds):
        """The version once it is past seen, or after seconds whatever it is."""
        with self._cond:
            if self.version == seen:
                self._cond.wait(seconds)
            return self.version


class _Forward(unohelper.Base, XPropertyChangeListener, XWindowListener,
               XDocumentEventListener, XConfigurationChangeListener):
    """One UNO listener for every source; forwards to its owner while the owner lives."""

    def __init__(self, owner):
        self._owner = weakref.ref(owner)

    def _tell(self, what, event=None):
        owner = self._owner()
        if owner is not None:
            owner.changed(what, event)

    def propertyChange(self, event):
        self._tell(event.PropertyName, event)

    def windowResized(self, event):
        self._tell("resized")

    def windowMoved(self, event):
        self._tell("moved")

    def windowShown(self, event):
        self._tell("shown")

    def windowHidden(self, event):
        self._tell("hidden")

    def documentEventOccured(self, event):
        if event.EventName in DOCUMENT_EVENTS:
            self._tell(event.EventName, event)

    def notifyConfigurationChange(self, event):
        self._tell("configuration")

    def disposing(self, source):
        owner = self._owner()
        if owner is not None:
            owner.source_gone(source)


class Listeners:
    """Listens to the current Impress document's view and to document events.

    Main thread only. ensure() follows the current controller: it is called on every facts
    reading and after document events, and moves the listeners when the controller changed.
    """

    def __init__(self, host, view, hub):
        self.host = host
        self.view = view
        self.hub = hub
        self._forward = _Forward(self)
        self._controller = None
        self._windows = []
        self._configuration = None
        self._broadcaster = None

    def start(self):
        """Listens to LibreOffice's document events; then to the current view."""
        try:
            self._broadcaster = self.host.ctx.getValueByName(
                "/singletons/com.sun.star.frame.theGlobalEventBroadcaster")
            self._broadcaster.addDocumentEventListener(self._forward)
        except Exception as e:  # noqa: BLE001 - the view is still read on every request
            self.host.log("cannot listen to document events: %s" % e)
        self.ensure()

    def stop(self):
        """Removes every listener (soffice is ending or the extension is removed)."""
        self._detach()
        if self._broadcaster is not None:
            try:
                self._broadcaster.removeDocumentEventListener(self._forward)
            except Exception:  # noqa: BLE001
                pass
            self._broadcaster = None

    def ensure(self):
        """Moves the listeners to the current document's controller if it changed."""
        try:
            model = self.host.model()
            controller = model.getCurrentController() if model is not None else None
        except Exception:  # noqa: BLE001
            controller = None
        if controller is not None and controller == self._controller:
            return
        self._detach()
        if controller is not None:
            self._attach(controller)

    def _attach(self, controller):
        self._controller = controller
        for name in CONTROLLER_PROPERTIES:
            try:
                controller.addPropertyChangeListener(name, self._forward)
            except Exception as e:  # noqa: BLE001
                self.host.log("cannot listen to %s: %s" % (name, e))
        try:
            frame = controller.getFrame()
            for window in (frame.getContainerWindow(), frame.getComponentWindow()):
                window.addWindowListener(self._forward)
                self._windows.append(window)
        except Exception as e:  # noqa: BLE001
            self.host.log("cannot listen to the window: %s" % e)
        try:
            self._configuration = controller.getConfigurationController()
            self._configuration.addConfigurationChangeListener(
                self._forward, "ConfigurationUpdateEnd", None)
        except Exception:  # noqa: BLE001 - a view switch is then seen by the next reading
            self._configuration = None

    def _detach(self):
        controller, self._controller = self._controller, None
        if controller is not None:
            for name in CONTROLLER_PROPERTIES:
                try:
                    controller.removePropertyChangeListener(name, self._forward)
                except Exception:  # noqa: BLE001 - already disposed
                    pass
        for window in self._windows:
            try:
                window.removeWindowListener(self._forward)
            except Exception:  # noqa: BLE001
                pass
        self._windows = []
        if self._configuration is not None:
            try:
                self._configuration.removeConfigurationChangeListener(self._forward)
            except Exception:  # noqa: BLE001
                pass
            self._configuration = None

    def changed(self, what, event):
        """A listener's call: keep Fit right, follow the current document, wake streams."""
        try:
            if what == "VisibleArea" and self._controller is not None:
                self.view.check_fit(self._controller.getModel(), self._controller)
            elif what in ("OnViewClosed", "OnUnload") and event is not None:
                self.view.forget(event.Source)
            if what in DOCUMENT_EVENTS or what == "configuration":
                self.ensure()
        except Exception as e:  # noqa: BLE001 - never into LibreOffice
            self.host.log("view event %s: %s" % (what, e))
        self.hub.bump()

    def source_gone(self, source):
        """A listened-to object is being disposed: stop holding it."""
        if self._controller is not None and source == self._controller:
            self._detach()
        self.hub.bump()
