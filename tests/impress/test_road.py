"""A presenter's whole road through the real programs: Impress with the extension installed,
Scribbet as built (GTK and WebKitGTK), openbox and a compositing manager on Xvfb.

The toolbar's Pen is pressed with the mouse; Scribbet starts from the extension's link and
opens its layer over the slide. The layer's slide frame (the page's dashed outline, seen through
the compositor) must lie where Impress shows the slide, to a pixel, at Fit, at 50 % and at
150 % scrolled, and after the window moves. Strokes drawn with the mouse are placed with the
Return key and found in the document, then in its ODP and PPTX copies, with their points, order
and colours; another program in front hides the layer; Ctrl-Z in Impress removes the placing
whole and Ctrl-Y brings it back.

The document is read over a UNO bridge that a second start of soffice asks the running one to
open (test tooling: the extension itself knows nothing of it). Screenshots of every step go to
build/impress-artifacts/road-*.png.
"""

import os
import subprocess
import sys
import time
import unittest

import _paths

sys.path.insert(0, os.path.join(_paths.ROOT, "scripts", "impress"))

ARTIFACTS = os.path.join(_paths.ROOT, "build", "impress-artifacts")
PEN_BLUE, MARKER_YELLOW = (30, 110, 220), (250, 210, 0)  # the toolbar's Pen and Highlighter
POINT = 2540 / 72  # 1/100 mm per point


def near(colour, want, tolerance=12):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, want))


def clusters(points, gap=3):
    """Groups pixels that lie within `gap` of each other; each group's bounding box."""
    boxes = []
    for x, y in points:
        for box in boxes:
            if box[0] - gap <= x <= box[2] + gap and box[1] - gap <= y <= box[3] + gap:
                box[0], box[1] = min(box[0], x), min(box[1], y)
                box[2], box[3] = max(box[2], x), max(box[3], y)
                break
        else:
            boxes.append([x, y, x, y])
    return boxes


class RoadTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        import road
        import xshot
        cls.road, cls.xshot = road, xshot
        if not os.access(road.SCRIBBET, os.X_OK):
            raise AssertionError("%s is not built (scripts/test.sh builds it)." % road.SCRIBBET)
        cls.session, home = road.with_scribbet(road.free_port())
        cls.addClassCleanup(road.remove, home)
        cls.session.start()
        cls.addClassCleanup(cls.session.stop)
        cls.env = dict(cls.session.env)
        compositor = road.start_compositor(cls.env)
        cls.addClassCleanup(compositor.terminate)
        cls.addClassCleanup(lambda: road.end(road.scribbet_pids(cls.session)))
        cls.bridge = None
        os.makedirs(ARTIFACTS, exist_ok=True)

    # -- looking at the screen ------------------------------------------------------------
    def shot(self, name=None):
        picture = self.xshot.grab(self.session.display)
        if name:
            with open(os.path.join(ARTIFACTS, "road-%s.png" % name), "wb") as f:
                f.write(picture.png())
        return picture

    def xdo(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, timeout=20)

    def layer_mapped(self):
        return self.road.layer_mapped(self.env)

    def eventually(self, check, limit=10.0, pause=0.1):
        deadline = time.monotonic() + limit
        while True:
            value = check()
            if value or time.monotonic() > deadline:
                return value
            time.sleep(pause)

    def log(self):
        path = os.path.join(self.session.tmp, "state", "scribbet", "Scribbet.log")
        try:
            with open(path, encoding="utf-8") as f:
                return f.read()
        except OSError:
            return ""

    def logged(self, text, limit=15.0):
        return self.eventually(lambda: text in self.log(), limit)

    def press_pen(self):
        """Clicks the Scribbet toolbar's Pen: the blue icon whose right neighbour is the
        yellow Highlighter, found in the toolbars above the slide editor."""
        facts = self.session.view()
        window, pane = facts["window"], facts["pane"]
        picture = self.shot()
        blue, yellow = [], []
        for y in range(int(window[1]), int(pane[1])):
            for x in range(int(window[0]), int(window[0] + window[2])):
                c = picture.pixel(x, y)
                if near(c, PEN_BLUE, 25):
                    blue.append((x, y))
                elif near(c, MARKER_YELLOW, 25):
                    yellow.append((x, y))
        pens = [b for b in clusters(blue) for m in clusters(yellow)
                if 0 < m[0] - b[2] < 40 and abs((m[1] + m[3]) - (b[1] + b[3])) < 12]
        self.assertTrue(pens, "no Scribbet toolbar on the screen")
        pen = pens[0]
        self.xdo("mousemove", (pen[0] + pen[2]) // 2, (pen[1] + pen[3]) // 2, "click", 1)

    def frame(self, want, reach=8):
        """The layer's slide frame (left, top, right, bottom) near the sides `want` gives:
        the dashed outline's outermost pixels within `reach` of each side, each None when
        no outline is there (the page's own toolbar, also blue, lies farther away)."""
        picture = self.shot()
        left, top, right, bottom = (int(round(v)) for v in want)
        mid_y, mid_x = (top + bottom) // 2, (left + right) // 2

        def columns(x_from, x_to):
            return [x for x in range(x_from, x_to) for y in range(mid_y - 40, mid_y + 40)
                    if self.road.bluish(picture.pixel(x, y))]

        def rows(y_from, y_to):
            return [y for y in range(y_from, y_to) for x in range(mid_x - 40, mid_x + 40)
                    if self.road.bluish(picture.pixel(x, y))]
        found = (columns(left - reach, left + reach), rows(top - reach, top + reach),
                 columns(right - reach, right + reach), rows(bottom - reach, bottom + reach))
        return (min(found[0]) if found[0] else None, min(found[1]) if found[1] else None,
                max(found[2]) + 1 if found[2] else None, max(found[3]) + 1 if found[3] else None)

    def assert_frame_on_slide(self, name):
        """The frame's sides that show in the slide editor lie within a pixel of the slide's
        sides in Impress's own facts (which test_view_pixels holds to the slide's pixels)."""
        def check():
            facts = self.session.view()
            sx, sy, sw, sh = facts["slide"]
            px, py, pw, ph = facts["pane"]
            want = (sx, sy, sx + sw, sy + sh)
            seen = self.frame(want)
            inside = (px < sx, py < sy, sx + sw < px + pw, sy + sh < py + ph)
            sides = [(got, wanted) for got, wanted, shown in zip(seen, want, inside) if shown]
            ok = sides and all(got is not None and abs(got - wanted) <= 1 for got, wanted in sides)
            return (ok, seen, want, inside)
        result = self.eventually(lambda: check()[0] and check(), 5.0, 0.3) or check()
        self.shot(name)
        self.assertTrue(result[0], "layer frame %s, slide %s (sides shown %s)" % result[1:])

    # -- the document, over the bridge ------------------------------------------------------
    def document(self):
        if self.bridge is None:
            import uno
            name = "scribbet-road-%d" % os.getpid()
            subprocess.run(["soffice", "-env:UserInstallation=" + self.session.profile_url,
                            "--accept=pipe,name=%s;urp;" % name, "--nologo"], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
            local = uno.getComponentContext()
            resolver = local.ServiceManager.createInstanceWithContext(
                "com.sun.star.bridge.UnoUrlResolver", local)
            ctx = None
            deadline = time.monotonic() + 30
            while ctx is None:
                try:
                    ctx = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext"
                                           % name)
                except Exception:  # noqa: BLE001 - not accepting yet
                    if time.monotonic() > deadline:
                        raise
                    time.sleep(0.3)
            type(self).bridge = ctx
        desktop = self.bridge.ServiceManager.createInstanceWithContext(
            "com.sun.star.frame.Desktop", self.bridge)
        return desktop, desktop.getCurrentComponent()

    @staticmethod
    def shapes_of(doc, index=0):
        """Every shape of a slide as (name, kind, points in slide points, line colour),
        bottom to top."""
        page = doc.getDrawPages().getByIndex(index)
        shapes = [page.getByIndex(i) for i in range(page.getCount())]  # held while read
        out = []
        for shape in shapes:
            kind = shape.ShapeType
            if kind == "com.sun.star.drawing.CustomShape":  # what PPTX gives back
                geometry = {p.Name: p.Value for p in shape.CustomShapeGeometry}
                path = {p.Name: p.Value for p in geometry["Path"]}
                pos = shape.Position
                points = [((pos.X + c.First.Value) / POINT, (pos.Y + c.Second.Value) / POINT)
                          for c in path["Coordinates"]]
            else:
                points = [(p.X / POINT, p.Y / POINT)
                          for p in shape.PolyPolygonBezier.Coordinates[0]]
            out.append((shape.Name, kind, points, shape.LineColor))
        return out

    def round_trip(self, doc, desktop, filter_name, ext):
        import uno
        from com.sun.star.beans import PropertyValue

        def prop(name, value):
            p = PropertyValue()
            p.Name, p.Value = name, value
            return p
        url = uno.systemPathToFileUrl(os.path.join(self.session.tmp, "road.%s" % ext))
        doc.storeToURL(url, (prop("FilterName", filter_name),))
        back = desktop.loadComponentFromURL(url, "_blank", 0, (prop("Hidden", True),))
        try:
            return self.shapes_of(back)
        finally:
            back.close(True)

    # -- the road ---------------------------------------------------------------------------
    def test_the_road(self):
        s = self.session
        s.given(reset=True)
        self.xdo("windowactivate", "--sync", s.view()["xid"])
        self.press_pen()
        self.assertTrue(self.eventually(self.layer_mapped, 20), "no layer after Pen:\n" + self.log())
        self.assertTrue(self.logged("Scribbet serves Impress."), self.log())
        self.assertTrue(self.logged("Drawing layer open over the slide"), self.log())

        with self.subTest("the frame at Fit"):
            self.assert_frame_on_slide("fit")
        with self.subTest("a zoom to 50 % is followed"):
            s.given(zoom=67)
            self.assert_frame_on_slide("zoom-50")
        with self.subTest("150 % scrolled with the wheel is followed"):
            # A wide window: the slide is taller than the editor, its sides still show.
            s.given(window="40,40,2600,1000", zoom=200)
            self.assert_frame_on_slide("zoom-150")
            before = s.view()
            px, py, pw, ph = before["pane"]
            # The wheel in the editor's margin beside the slide, where Impress has the mouse.
            self.xdo("mousemove", int(px + 10), int(py + ph / 2))
            for _ in range(2):
                self.xdo("click", 5)
                time.sleep(0.2)
            self.assertTrue(self.eventually(
                lambda: s.view()["slide"][1] < before["slide"][1] - 10, 5), "no scroll")
            self.assert_frame_on_slide("zoom-150-scrolled")
            s.given(window="80,60,1280,820")
        with self.subTest("a window move is followed"):
            s.given(fit=True)
            self.assert_frame_on_slide("fit-again")
            xid = s.view()["xid"]
            self.xdo("windowmove", xid, 140, 90)
            self.assert_frame_on_slide("moved")

        with self.subTest("another program in front hides the layer"):
            other = subprocess.Popen(["xmessage", "-geometry", "+40+40", "another program"],
                                     env=self.env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
            try:
                xid = self.eventually(lambda: subprocess.run(
                    ["xdotool", "search", "--classname", "^xmessage$"], env=self.env,
                    stdout=subprocess.PIPE, timeout=10).stdout.split(), 10)
                self.assertTrue(xid, "xmessage did not show")
                self.xdo("windowactivate", xid[-1].decode())
                self.assertTrue(self.eventually(lambda: not self.layer_mapped(), 5),
                                "the layer stayed over another program")
                self.shot("other-in-front")
            finally:
                other.terminate()
                other.wait(5)
            self.xdo("windowactivate", s.view()["xid"])
            self.assertTrue(self.eventually(self.layer_mapped, 5), "the layer did not come back")
            self.assert_frame_on_slide("back")

        # Two strokes drawn with the mouse on the slide, then Return places them.
        facts = s.view()
        sx, sy, sw, sh = facts["slide"]
        scale = facts["scale"]
        strokes = [((sx + sw * 0.2, sy + sh * 0.3), (sx + sw * 0.45, sy + sh * 0.6)),
                   ((sx + sw * 0.3, sy + sh * 0.65), (sx + sw * 0.7, sy + sh * 0.35))]
        for (x0, y0), (x1, y1) in strokes:
            self.xdo("mousemove", int(x0), int(y0))
            time.sleep(0.3)
            self.xdo("mousedown", 1)
            for i in range(1, 21):
                self.xdo("mousemove", int(x0 + (x1 - x0) * i / 20), int(y0 + (y1 - y0) * i / 20))
                time.sleep(0.01)
            self.xdo("mouseup", 1)
            time.sleep(0.2)
        self.shot("drawn")
        self.xdo("key", "Return")
        self.assertTrue(self.logged("Placed 2 path(s) on the slide."), self.log())
        self.assertTrue(self.eventually(lambda: not self.layer_mapped(), 10))
        self.shot("placed")

        desktop, doc = self.document()
        placed = self.shapes_of(doc)
        self.assertEqual(len(placed), 2, placed)
        for (name, kind, points, colour), ((x0, y0), (x1, y1)) in zip(placed, strokes):
            self.assertIn(kind, ("com.sun.star.drawing.OpenBezierShape",
                                 "com.sun.star.drawing.PolyLineShape"))
            # The stroke starts and ends where the mouse did, to a pixel on the screen.
            for (px, py), (mx, my) in ((points[0], (x0, y0)), (points[-1], (x1, y1))):
                self.assertLess(abs(px - (int(mx) - sx) / scale), 1.5 / scale + 0.5, points)
                self.assertLess(abs(py - (int(my) - sy) / scale), 1.5 / scale + 0.5, points)

        for filter_name, ext in (("impress8", "odp"), ("Impress MS PowerPoint 2007 XML", "pptx")):
            with self.subTest("through " + ext):
                back = self.round_trip(doc, desktop, filter_name, ext)
                self.assertEqual([b[0] for b in back], [p[0] for p in placed])  # order and names
                self.assertEqual([b[3] for b in back], [p[3] for p in placed])  # colours
                for (_, _, want, _), (_, _, got, _) in zip(placed, back):
                    # PPTX may keep a curve as more points; each point kept lies on the drawing.
                    self.assertGreaterEqual(len(got), 2)
                    for gx, gy in (got[0], got[-1]):
                        self.assertTrue(any(abs(gx - wx) <= 0.5 and abs(gy - wy) <= 0.5
                                            for wx, wy in want), (got[:3], want[:3]))

        with self.subTest("Ctrl-Z removes the placing whole, Ctrl-Y brings it back"):
            self.xdo("windowactivate", "--sync", s.view()["xid"])
            self.xdo("key", "ctrl+z")
            self.assertTrue(self.eventually(lambda: len(self.shapes_of(doc)) == 0, 5),
                            self.shapes_of(doc))
            self.xdo("key", "ctrl+y")
            self.assertTrue(self.eventually(lambda: len(self.shapes_of(doc)) == 2, 5))
            self.assertEqual([p[0] for p in self.shapes_of(doc)], [p[0] for p in placed])


if __name__ == "__main__":
    unittest.main()
