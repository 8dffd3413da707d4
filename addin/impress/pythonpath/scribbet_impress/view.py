"""The view facts: where the current slide is on the screen, read from Impress on the main thread.

The slide's screen rectangle comes from two readings that agree to a pixel: the controller's
VisibleArea (the part of the page the edit view shows, in 1/100 mm) and the edit view's own
rectangle on the screen, from LibreOffice's accessibility tree (no AT-SPI involved). Both are
LibreOffice's word, and under a window manager LibreOffice places every window too high by
the decorations until the first input event reaches it; so each reading is moved by the
difference between where LibreOffice says the frame window is and where the X server says it
is. The accessible objects are found once per controller and view and kept; a kept one that
fails or has lost its size is looked for again.

Impress keeps no "fit" state a macro can read (its ZoomType always reads "by value"), so Fit
is remembered here: set by SCBT_Zoom fit, kept while the zoom stays the fitted one (a resized
window refits, so a change of the window's size keeps it), cleared by any other zoom change.
"""

from . import geometry
from .xwin import XWindows

DOCUMENT_PRESENTATION = 83
MENU_BAR = 35
NORMAL_VIEW = "private:resource/view/ImpressView"
CENTER_PANE = "private:resource/pane/CenterPane"
SEARCH_DEPTH = 8


def _rect(component):
    loc = component.getLocationOnScreen()
    size = component.getSize()
    return loc.X, loc.Y, size.Width, size.Height


def find_role(accessible, role, depth=SEARCH_DEPTH):
    """The first accessible context of role under accessible (menus are skipped), or None."""
    context = accessible.getAccessibleContext()
    if context is None:
        return None
    found = context.getAccessibleRole()
    if found == role:
        return context
    if found == MENU_BAR or depth == 0:
        return None
    for i in range(min(context.getAccessibleChildCount(), 64)):
        hit = find_role(context.getAccessibleChild(i), role, depth - 1)
        if hit is not None:
            return hit
    return None


def center_view(controller):
    """The resource URL of the view in the centre pane ("...ImpressView" in Normal view)."""
    try:
        configuration = controller.getConfigurationController().getCurrentConfiguration()
        for resource in configuration.getResources(None, "", 1):
            anchor = resource.getAnchor()
            if anchor is not None and anchor.getResourceURL() == CENTER_PANE:
                url = resource.getResourceURL()
                if url.startswith("private:resource/view/"):
                    return url
    except Exception:  # noqa: BLE001 - a controller without the framework is no Normal view
        pass
    return None


class _Kept:
    """What is kept of one controller: its frame window, X id and edit view's accessible."""

    def __init__(self, controller):
        self.controller = controller
        self.frame = controller.getFrame()
        self.window = self.frame.getContainerWindow()
        self.xid = None
        self.view_url = None
        self.pane = None


class View:
    """Reads view facts; one for the extension, used on the main thread only."""

    def __init__(self, host, xwindows=None):
        self.host = host
        self.xwindows = xwindows or XWindows()
        self._kept = None
        self._fits = {}
        self.correction = (0, 0)

    # -- Fit ----------------------------------------------------------------------------
    def _fit_key(self, controller):
        size = controller.getFrame().getComponentWindow().getPosSize()
        return controller.ZoomValue, size.Width, size.Height

    def remember_fit(self, model, controller):
        """Notes that the document's view was just set to Fit."""
        self._fits[self.host.doc_key(model)] = self._fit_key(controller)

    def check_fit(self, model, controller):
        """Keeps or clears the remembered Fit after a change of the view; True when kept."""
        key = self.host.doc_key(model)
        fitted = self._fits.get(key)
        if fitted is None:
            return False
        now = self._fit_key(controller)
        if now == fitted:
            return True
        if now[1:] != fitted[1:]:
            self._fits[key] = now
            return True
        del self._fits[key]
        return False

    def forget(self, model):
        """Drops what is remembered of a document (its Fit)."""
        self._fits.pop(self.host.doc_key(model), None)

    # -- kept references ----------------------------------------------------------------
    def _kept_for(self, controller):
        kept = self._kept
        if kept is None or kept.controller != controller:
            kept = self._kept = _Kept(controller)
        return kept

    def _xid(self, kept):
        if kept.xid is None:
            try:
                from com.sun.star.lang.SystemDependent import SYSTEM_XWINDOW
                handle = kept.window.getWindowHandle(tuple(bytes(16)), SYSTEM_XWINDOW)
                kept.xid = int(getattr(handle, "WindowHandle", handle) or 0) or None
            except Exception:  # noqa: BLE001 - not an X window (another VCL plug-in)
                kept.xid = None
        return kept.xid

    def _pane(self, kept, url):
        if kept.pane is not None and kept.view_url == url:
            try:
                rect = _rect(kept.pane)
                if rect[2] > 0 and rect[3] > 0:
                    return rect
            except Exception:  # noqa: BLE001 - disposed with its view: look again
                pass
        kept.view_url = url
        kept.pane = find_role(kept.window, DOCUMENT_PRESENTATION)
        return _rect(kept.pane) if kept.pane is not None else None

    # -- facts --------------------------------------------------------------------------
    def facts(self):
        """The view facts of impress_wire's form (without "seq")."""
        model = self.host.model()
        if model is None:
            self._kept = None
            return {"doc": None}
        controller = model.getCurrentController()
        kept = self._kept_for(controller)
        xid = self._xid(kept)
        lo_window = _rect(kept.window.getAccessibleContext())
        real = self.xwindows.rect(xid) if xid else None
        if real is None:
            real = lo_window
        dx, dy = real[0] - lo_window[0], real[1] - lo_window[1]
        if (dx, dy) != self.correction:
            self.correction = (dx, dy)
            self.host.log("LibreOffice places its window %+d, %+d px off what X says; "
                          "the view facts are moved by that" % (dx, dy))
        url = center_view(controller)
        normal = url == NORMAL_VIEW and not controller.IsMasterPageMode
        facts = {"doc": self.host.doc_key(model),
                 "presentation": self.host.presentation_key(model), "xid": xid, "origin": [real[0], real[1]],
                 "window": list(real), "pane": None, "slide": None, "slideW": None,
                 "slideH": None, "zoom": None, "scale": None, "fit": False, "slideId": None,
                 "slideNumber": None, "label": None, "view": "normal" if normal else "other",
                 "split": 100}
        if not normal:
            return facts
        pane = self._pane(kept, url)
        page = controller.getCurrentPage()
        if pane is None or page is None:
            facts["view"] = "other"
            return facts
        pane = (pane[0] + dx, pane[1] + dy, pane[2], pane[3])
        area = controller.VisibleArea
        placed = geometry.slide_on_screen(pane, (area.X, area.Y, area.Width, area.Height),
                                          (page.Width, page.Height), controller.ZoomValue)
        if placed is None:
            facts["view"] = "other"
            return facts
        slide, scale = placed
        number = page.Number
        facts.update({
            "pane": list(pane), "slide": [round(v, 3) for v in slide],
            "slideW": geometry.points_of(page.Width),
            "slideH": geometry.points_of(page.Height),
            "zoom": controller.ZoomValue, "scale": round(scale, 6),
            "fit": self.check_fit(model, controller),
            "slideId": self.host.slide_id(page, model), "slideNumber": number,
            "label": "Slide Editor Slide %d" % number})
        return facts
