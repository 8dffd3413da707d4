"""The test-only "given" request: puts Impress into a case's starting state.

Answered only when soffice runs with SCRIBBET_IMPRESS_TEST=1 (server.py checks). The keys are
those of contract.cases that Impress can show: window, zoom, fit, slide, slides, slideSize and
view, "reset" for the default state (a fresh document with three empty 960 by 540 slides,
the window at 80, 60, 1280 by 820 at Fit), and "busy", which keeps the main
thread busy for a time, as a long load would. Zoom values are the geometry answer's unit (screen
points per slide point x 100); Impress's zoom steps are whole Impress percent, so a zoom is
set to the Impress step nearest to it. Runs on the main thread; processes pending events
before it answers so that the next request sees the state it set.
"""

from . import geometry

DEFAULT_WINDOW = (80, 60, 1280, 820)
DEFAULT_SLIDE = (960, 540)
DEFAULT_SLIDES = 3
BLANK_LAYOUT = 20
ORDER = ("reset", "slides", "slideSize", "window", "slide", "zoom", "fit", "view", "busy")
MAX_BUSY_MS = 20000
VIEWS = {"normal": ".uno:NormalMultiPaneGUI", "sorter": ".uno:DiaMode"}


def _numbers(value, count):
    parts = str(value).split(",")
    if len(parts) != count:
        return None
    try:
        return [float(p) for p in parts]
    except ValueError:
        return None


def _flag(value):
    text = str(value).strip().lower()
    return {"true": True, "1": True, "false": False, "0": False}.get(text)


class Hooks:
    """Applies givens through the host and the view (main thread only)."""

    def __init__(self, host, view):
        self.host = host
        self.view = view

    def apply(self, values):
        """(ok, message) after setting values; stops at the first that cannot be set."""
        unknown = [k for k in values if k not in ORDER]
        if unknown:
            return False, "Impress cannot show the given %s." % ", ".join(sorted(unknown))
        for key in ORDER:
            if key in values:
                problem = getattr(self, "_" + key.lower())(values[key])
                self._settle()
                if problem:
                    return False, problem
        return True, "set"

    def _settle(self):
        try:
            toolkit = self.host.smgr.createInstanceWithContext("com.sun.star.awt.Toolkit",
                                                               self.host.ctx)
            toolkit.processEventsToIdle()
        except Exception:  # noqa: BLE001 - the state is set; events are only late
            pass

    def _dispatch(self, command):
        helper = self.host.smgr.createInstanceWithContext("com.sun.star.frame.DispatchHelper",
                                                          self.host.ctx)
        helper.executeDispatch(self.host.frame(), command, "", 0, ())

    def _model(self):
        model = self.host.model()
        if model is None:
            raise ValueError("no Impress window")
        return model

    def _reset(self, value):
        for _ in range(3):  # a window that was still opening may be listed only now
            frames = self.host.desktop.getFrames()
            left = 0
            for i in range(frames.getCount() - 1, -1, -1):
                frame = frames.getByIndex(i)
                controller = frame.getController()
                model = controller.getModel() if controller is not None else None
                if model is not None:
                    left += 1
                    model.setModified(False)
                    self.view.forget(model)
                    frame.close(True)
            self._settle()
            if not left:
                break
        self.host.desktop.loadComponentFromURL("private:factory/simpress", "_default", 0, ())
        self._settle()
        model = self._model()
        pages = model.getDrawPages()
        while pages.getCount() < DEFAULT_SLIDES:
            pages.insertNewByIndex(pages.getCount() - 1)
        for i in range(pages.getCount()):
            pages.getByIndex(i).Layout = BLANK_LAYOUT
        self._slidesize("%d,%d" % DEFAULT_SLIDE)
        self._settle()
        problem = self._window("%d,%d,%d,%d" % DEFAULT_WINDOW)
        if problem:
            return problem
        self._settle()
        model.getCurrentController().setCurrentPage(pages.getByIndex(0))
        model.setModified(False)
        return self._fit("true")

    def _slides(self, value):
        try:
            count = int(str(value))
        except ValueError:
            count = 0
        if not 1 <= count <= 1000:
            return "slides must be a count from 1 to 1000."
        pages = self._model().getDrawPages()
        while pages.getCount() < count:
            pages.insertNewByIndex(pages.getCount() - 1)
            pages.getByIndex(pages.getCount() - 1).Layout = BLANK_LAYOUT
        while pages.getCount() > count:
            pages.remove(pages.getByIndex(pages.getCount() - 1))
        return None

    def _slidesize(self, value):
        size = _numbers(value, 2)
        if not size or not all(72 <= v <= 4032 for v in size):
            return "slideSize must be W,H in points, each from 72 to 4032."
        pages = self._model().getDrawPages()
        for i in range(pages.getCount()):
            page = pages.getByIndex(i)
            page.Width = geometry.hundredths_of(size[0])
            page.Height = geometry.hundredths_of(size[1])
        return None

    def _window(self, value):
        rect = _numbers(value, 4)
        if not rect or rect[2] < 400 or rect[3] < 300:
            return "window must be X,Y,W,H, at least 400 by 300 points."
        x, y, w, h = (int(v) for v in rect)
        window = self.host.frame().getContainerWindow()
        try:
            window.IsMaximized = False  # a maximized window keeps the screen's size
        except Exception:  # noqa: BLE001 - not a top window: placed as it is
            pass
        # LibreOffice places the client area; under a window manager its idea of where the
        # client area is may be off until input arrives, so correct by what X says, once the
        # window manager has finished moving it (it does so in its own time).
        want = (x, y)
        for _ in range(3):
            before = self._settled_origin(tries=1)
            window.setPosSize(x, y, w, h, 15)
            origin = self._settled_origin(moved_from=before if before != want else None)
            if origin is None:
                return "Impress has no window to place."
            if origin == want:
                break
            pos = window.getPosSize()
            x, y = pos.X + (want[0] - origin[0]), pos.Y + (want[1] - origin[1])
        return None

    def _settled_origin(self, tries=20, moved_from=None):
        """The frame's true origin once two readings 50 ms apart agree, and (for the first
        half of the tries) differ from moved_from, where the window was before it was asked
        to move; None when there is no window."""
        import time
        last = None
        for n in range(tries):
            self._settle()
            facts = self.view.facts()
            if facts.get("doc") is None:
                return None
            origin = tuple(facts["origin"])
            if origin == last and (origin != moved_from or n >= tries // 2):
                return origin
            last = origin
            if n + 1 < tries:
                time.sleep(0.05)
        return last

    def _slide(self, value):
        pages = self._model().getDrawPages()
        try:
            number = int(str(value))
        except ValueError:
            number = 0
        if not 1 <= number <= pages.getCount():
            return "slide must be a slide number from 1 to %d." % pages.getCount()
        self.host.controller().setCurrentPage(pages.getByIndex(number - 1))
        return None

    def _zoom(self, value):
        try:
            zoom = float(str(value))
        except ValueError:
            zoom = 0
        if not 10 <= zoom <= 400:
            return "zoom must be a percentage from 10 to 400."
        model = self._model()
        controller = model.getCurrentController()
        facts = self.view.facts()
        if facts.get("scale") and controller.ZoomValue:
            per_percent = facts["scale"] * 100 / controller.ZoomValue
        else:
            per_percent = 96 / 72
        from com.sun.star.view.DocumentZoomType import BY_VALUE
        controller.ZoomType = BY_VALUE
        controller.ZoomValue = int(geometry.round_half_away(zoom / per_percent))
        self.view.forget(model)
        return None

    def _fit(self, value):
        on = _flag(value)
        if on is None:
            return "fit must be true or false."
        model = self._model()
        controller = model.getCurrentController()
        if on:
            from com.sun.star.view.DocumentZoomType import ENTIRE_PAGE
            controller.ZoomType = ENTIRE_PAGE
            self._settle()
            self.view.remember_fit(model, controller)
        else:
            self.view.forget(model)
        return None

    def _busy(self, value):
        """Keeps the main thread busy for value ms, as a long load or print would: the tests
        check that requests meanwhile are answered late, not never, and drop their jobs."""
        import time
        try:
            ms = int(str(value))
        except ValueError:
            ms = -1
        if not 0 <= ms <= MAX_BUSY_MS:
            return "busy must be a time in ms from 0 to %d." % MAX_BUSY_MS
        time.sleep(ms / 1000)
        return None

    def _view(self, value):
        if value == "none":
            model = self._model()
            model.setModified(False)
            self.view.forget(model)
            model.close(True)
            return None
        command = VIEWS.get(value)
        if command is None:
            return "view must be normal, sorter or none."
        self._dispatch(command)
        return None
