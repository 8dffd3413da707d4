"""The one object every answer is built from: LibreOffice, its current Impress document, ids.

The macros work on "the current Impress document": the one whose frame is active, else the
one that was active last (Scribbet's own window takes the focus while the user draws, so
Impress is rarely the active program when a macro runs), else any Impress document that has a
window. Everything here runs on LibreOffice's main thread (server.py makes sure of that).
"""

from . import ids as ids_module
from . import logfile

IMPRESS = "com.sun.star.presentation.PresentationDocument"


def is_impress(model):
    """True when model is an Impress document that still has a window."""
    try:
        return (model is not None and model.supportsService(IMPRESS)
                and model.getCurrentController() is not None
                and model.getCurrentController().getFrame() is not None)
    except Exception:  # noqa: BLE001 - a disposed document raises on every call
        return False


class Host:
    """LibreOffice as the macros see it.

    .ctx and .smgr are the component context and its service manager, .desktop the Desktop.
    model(), controller() and frame() give the current Impress document's parts or None.
    """

    def __init__(self, ctx, version="dev"):
        self.ctx = ctx
        self.smgr = ctx.getServiceManager()
        self.desktop = self.smgr.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)
        self.version = version
        self.ids = ids_module.SlideIds(self.log)
        self._last = None
        self._untitled = {}

    def log(self, text):
        """Writes one line to the extension's log file."""
        logfile.log(text)

    def model(self):
        """The current Impress document's model, or None when no Impress window is open."""
        for candidate in (self._active_model(), self._current_component(), self._last):
            if is_impress(candidate):
                self._last = candidate
                return candidate
        self._last = None
        try:
            frames = self.desktop.getFrames()
            for i in range(frames.getCount()):
                controller = frames.getByIndex(i).getController()
                candidate = controller.getModel() if controller is not None else None
                if is_impress(candidate):
                    self._last = candidate
                    return candidate
        except Exception:  # noqa: BLE001 - frames come and go while we look
            pass
        return None

    def _active_model(self):
        try:
            frame = self.desktop.getActiveFrame()
            controller = frame.getController() if frame is not None else None
            return controller.getModel() if controller is not None else None
        except Exception:  # noqa: BLE001
            return None

    def _current_component(self):
        try:
            return self.desktop.getCurrentComponent()
        except Exception:  # noqa: BLE001
            return None

    def controller(self):
        """The current Impress document's controller (its view), or None."""
        model = self.model()
        return model.getCurrentController() if model is not None else None

    def frame(self):
        """The current Impress document's frame, or None."""
        controller = self.controller()
        return controller.getFrame() if controller is not None else None

    def doc_key(self, model):
        """A text that names model for as long as soffice runs: its URL or "untitled:N"."""
        try:
            url = model.getURL()
            if url:
                return url
            uid = str(model.RuntimeUID)
        except Exception:  # noqa: BLE001
            return "untitled:?"
        return self._untitled.setdefault(uid, "untitled:%d" % (len(self._untitled) + 1))

    def presentation_key(self, model):
        """The text the geometry answer names model by, for SCBT_Insert to find it again:
        "impress:" and its RuntimeUID, which OfficeDocument keeps unchanged until the document
        closes and which no other open document shares. Its URL would change on Save As (and
        an untitled document has none). "" when the model has no RuntimeUID."""
        try:
            uid = str(model.RuntimeUID)
        except Exception:  # noqa: BLE001 - a disposed document raises on every call
            return ""
        return "impress:" + uid if uid else ""

    def model_by_key(self, key):
        """The open Impress document whose presentation_key is key, or None (closed since)."""
        try:
            components = self.desktop.getComponents().createEnumeration()
            while components.hasMoreElements():
                candidate = components.nextElement()
                try:
                    if candidate.supportsService(IMPRESS) and self.presentation_key(candidate) == key:
                        return candidate
                except Exception:  # noqa: BLE001 - one closing as we look is not it
                    continue
        except Exception:  # noqa: BLE001
            self.log("the open documents could not be listed")
        return None

    def _id_key(self, model):
        try:
            return "uid:%s" % model.RuntimeUID
        except Exception:  # noqa: BLE001
            return self.doc_key(model)

    def slide_id(self, page, model=None):
        """The kept identifier of page (of the current document unless model is given)."""
        model = model or self.model()
        return None if model is None else self.ids.slide_id(model, self._id_key(model), page)

    def page_by_id(self, number, model=None):
        """The page with identifier number in the current document (or model), or None."""
        model = model or self.model()
        return None if model is None else self.ids.page_by_id(model, self._id_key(model),
                                                              number)

    def slide_numbers(self, model=None):
        """(page, identifier) for every page of the current document (or model), in order."""
        model = model or self.model()
        return [] if model is None else self.ids.numbers(model, self._id_key(model))
