"""Placing checks run inside a headless soffice: shapes, one undo step, ODP and PPTX round
trips, slide ids, theme colours, speed.

test_placing_live.py puts this file's runner into a private profile and calls it through
LibreOffice's script provider, so every UNO call here is made in soffice's own process, as the
extension's are. (Over a UNO bridge from another process, a shape's proxy dropped and fetched
again at once is now and then answered for by another object: reads came back with another
shape's name or colours, which is the bridge's trouble, not Impress's.) The extension's own
modules run with the extension's Host; each check starts from a fresh document.
"""

import shutil
import sys
import tempfile
import time
import unittest

import uno
from com.sun.star.beans import PropertyValue

from scribbet_impress import host as host_module
from scribbet_impress import pathtext, picture, placing, theme, undo

POINT = 2540 / 72
FIGURES = []  # lines for the runner's report


def prop(name, value):
    p = PropertyValue()
    p.Name, p.Value = name, value
    return p


class Office:
    """This soffice, as the checks see it: its context and a folder for files."""

    def __init__(self):
        self.ctx = uno.getComponentContext()
        self.dir = tempfile.mkdtemp(prefix="scribbet-live-")

    def stop(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def run(names=""):
    """Runs the checks (all, or those whose names contain one of the comma-separated names)
    and gives "run|failed|errors" and the report."""
    import io
    suite = unittest.TestSuite()
    wanted = [n for n in names.split(",") if n]
    for test in unittest.defaultTestLoader.loadTestsFromModule(sys.modules[__name__]):
        for case in test:
            if not wanted or any(w in case.id() for w in wanted):
                suite.addTest(case)
    del FIGURES[:]
    stream = io.StringIO()
    result = unittest.TextTestRunner(stream=stream, verbosity=2).run(suite)
    return "%d|%d|%d\n%s%s" % (result.testsRun, len(result.failures), len(result.errors),
                               "".join(FIGURES), stream.getvalue())


class StubbornPage:
    """A slide that will not give up the shapes named in `held` (as a shape another program
    holds may not go); everything else is the real page's."""

    def __init__(self, page, held):
        self._page, self._held = page, held

    def remove(self, shape):
        if shape.Name in self._held:
            raise RuntimeError("The shape is held.")
        self._page.remove(shape)

    def __getattr__(self, name):
        return getattr(self._page, name)


class PinnedHost(host_module.Host):
    """The extension's Host, its current document the one the check names (headless soffice
    has no active window to tell it)."""

    current = None

    def model(self):
        return self.current


class LiveCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.office = Office()
        cls.addClassCleanup(cls.office.stop)
        cls.host = PinnedHost(cls.office.ctx)

    def setUp(self):
        self.doc = self.host.desktop.loadComponentFromURL("private:factory/simpress", "_blank",
                                                          0, ())
        self.addCleanup(self._close, self.doc)
        self.host.current = self.doc
        page = self.doc.getDrawPages().getByIndex(0)
        page.Layout = 20  # blank: no placeholders among the shapes
        self.page = page

    @staticmethod
    def _close(doc):
        try:
            doc.setModified(False)
            doc.close(True)
        except Exception:  # noqa: BLE001 - gone already
            pass

    def insert(self, *args):
        answer = placing.insert(self.host, list(args))
        self.assertTrue(answer.startswith("OK|"), answer)
        return [line.split("\t") for line in answer.split("\n")[1:]]

    def names(self, page=None):
        page = page or self.page
        # The shapes are held while their names are read: a proxy dropped at once over the
        # test's bridge can be answered for by another shape's wrapper.
        shapes = [page.getByIndex(i) for i in range(page.getCount())]
        return [shape.Name for shape in shapes]

    def store_and_load(self, filter_name, ext):
        url = "file://%s/round.%s" % (self.office.dir, ext)
        self.doc.storeToURL(url, (prop("FilterName", filter_name),))
        back = self.host.desktop.loadComponentFromURL(url, "_blank", 0, (prop("Hidden", True),))
        self.addCleanup(self._close, back)
        return back


def outline_points(shape):
    """A shape's outline points in slide points, from either form Impress may hold it in."""
    if shape.ShapeType == undo.CUSTOM:  # what PPTX gives back: points relative to the shape
        geometry = {p.Name: p.Value for p in shape.CustomShapeGeometry}
        path = {p.Name: p.Value for p in geometry["Path"]}
        pos = shape.Position
        return [((pos.X + c.First.Value) / POINT, (pos.Y + c.Second.Value) / POINT)
                for c in path["Coordinates"]]
    return [(p.X / POINT, p.Y / POINT) for p in shape.PolyPolygonBezier.Coordinates[0]]


DRAWING = "M 100 100 L 200 100 L 200 200 Z M 300 100 C 300 200 400 200 400 100 M 10 20 L 110 70"
WANTED = [  # each subpath's points, control points included, as Impress keeps them
    [(100, 100), (200, 100), (200, 200), (100, 100)],
    [(300, 100), (300, 200), (400, 200), (400, 100)],
    [(10, 20), (110, 70)],
]


class PlacingTest(LiveCase):
    def test_shapes_keep_points_order_and_colours_through_odp_and_pptx(self):
        lines = self.insert(DRAWING, "#FF000080", "2.5", "#00FF0040", "", "")
        names = [line[1] for line in lines]
        self.assertEqual([line[0] for line in lines], ["0", "1", "2"])
        self.assertEqual(len(set(line[2] for line in lines)), 3)
        for doc, what in [(self.doc, "placed"), (self.store_and_load("impress8", "odp"), "odp"),
                          (self.store_and_load("Impress Office Open XML", "pptx"), "pptx")]:
            page = doc.getDrawPages().getByIndex(0)
            with self.subTest(what=what):
                self.assertEqual(self.names(page), names)  # in path order, bottom to top
                for i, wanted in enumerate(WANTED):
                    shape = page.getByIndex(i)
                    got = outline_points(shape)
                    self.assertEqual(len(got), len(wanted), got)
                    for (gx, gy), (wx, wy) in zip(got, wanted):
                        self.assertLess(max(abs(gx - wx), abs(gy - wy)), 0.5, (got, wanted))
                    if what != "pptx":  # PPTX brings freeforms back as custom shapes
                        # a path shape, whose points Impress's Edit Points can move
                        self.assertIn(shape.ShapeType, undo.PATH_TYPES - {undo.CUSTOM})
                    self.assertEqual(shape.LineColor, 0xFF0000)
                    self.assertEqual(shape.LineTransparence, 50)
                    self.assertEqual(shape.LineWidth, pathtext.hmm(2.5))
                filled = page.getByIndex(0)
                self.assertEqual((filled.FillColor, filled.FillTransparence), (0x00FF00, 75))

    def test_an_arrow_is_one_freeform_ending_in_impresss_arrow_through_odp_and_pptx(self):
        lines = self.insert("M 10 20 L 110 70 M 200 200 L 300 200", "#FF0000", "3", "none", "", "",
                            "", "triangle")
        self.assertEqual(len(lines), 2)
        plain = self.insert("M 0 0 L 50 50", "#FF0000", "3", "none", "", "", "", "none")
        self.assertEqual(len(plain), 1)
        for doc, what in [(self.doc, "placed"), (self.store_and_load("impress8", "odp"), "odp"),
                          (self.store_and_load("Impress Office Open XML", "pptx"), "pptx")]:
            page = doc.getDrawPages().getByIndex(0)
            with self.subTest(what=what):
                for i in (0, 1):
                    shape = page.getByIndex(i)
                    end = shape.LineEnd.Coordinates
                    self.assertEqual(len(end), 1, what)
                    self.assertGreaterEqual(len(end[0]), 3, what)  # a triangle at the line's end
                    # About three line widths wide (PPTX keeps only a size class of it).
                    self.assertLess(abs(shape.LineEndWidth - pathtext.hmm(9)), pathtext.hmm(6), what)
                    self.assertEqual(shape.FillStyle.value, "NONE")
                self.assertEqual(len(page.getByIndex(2).LineEnd.Coordinates), 0, "a plain line has no end")
        # An unknown arrowhead is refused, and the slide keeps what it had.
        before = self.names()
        answer = placing.insert(self.host, ["M 0 0 L 9 9", "#FF0000", "3", "none", "", "", "", "arrow"])
        self.assertEqual(answer, 'ERR|The arrowhead "arrow" is not one the add-in knows.')
        self.assertEqual(self.names(), before)

    def test_replaced_shapes_come_back_with_one_undo_and_go_again_with_one_redo(self):
        first = self.insert("M 0 0 L 10 10 M 20 20 L 30 30 M 40 40 L 50 50", "#1F1F1F", "1",
                            "none", "", "")
        a, b, c = (line[2] for line in first)
        self.page.getByIndex(1).LineColor = 0x123456  # the user's own change to B
        before = self.names()
        manager = self.doc.getUndoManager()
        depth = len(manager.getAllUndoActionTitles())
        placed = self.insert("M 0 0 L 30 30 L 60 0 Z", "theme:5", "2", "theme:6", "%s,%s" % (
            a, b), "")
        after = self.names()
        self.assertEqual(after, ["Scribbet " + c, placed[0][1]])  # new on top, in place
        self.assertEqual(manager.getAllUndoActionTitles()[0], undo.TITLE)
        self.assertEqual(len(manager.getAllUndoActionTitles()), depth + 1)  # one step only
        manager.undo()
        self.assertEqual(self.names(), before)  # in their old places
        self.assertEqual(self.page.getByIndex(1).LineColor, 0x123456)
        manager.redo()
        self.assertEqual(self.names(), after)
        manager.undo()
        manager.undo()
        self.assertEqual(self.names(), [])
        manager.redo()
        self.assertEqual(self.names(), before)

    def test_a_replaced_shape_impress_will_not_remove_is_refused_first_and_kept_after(self):
        a, b, c = (line[2] for line in self.insert("M 0 0 L 10 10 M 20 20 L 30 30 M 40 40 L 50 50",
                                                     "#1F1F1F", "1", "none", "", ""))
        stubborn = StubbornPage(self.page, {"Scribbet " + a})
        self.host.page_by_id = lambda number, model=None: stubborn
        self.addCleanup(delattr, self.host, "page_by_id")
        manager = self.doc.getUndoManager()
        depth = len(manager.getAllUndoActionTitles())
        before = self.names()
        # Refused first: nothing has gone, so the new shape goes again and the slide is as it was.
        answer = placing.insert(self.host, ["M 0 0 L 5 5", "#1F1F1F", "1", "none",
                                            "%s,%s" % (a, b), "256"])
        self.assertEqual(answer, "ERR|Impress would not remove the shape with the identifier %s, "
                                 "so the slide is left as it was (The shape is held)." % a)
        self.assertEqual(self.names(), before)
        self.assertEqual(len(manager.getAllUndoActionTitles()), depth)
        # Refused after another went: the drawing stays and the answer names the kept shape.
        answer = placing.insert(self.host, ["M 0 0 L 5 5", "#1F1F1F", "1", "none",
                                            "%s,%s" % (b, a), "256"])
        lines = answer.split("\n")
        self.assertTrue(lines[0] == "OK|1" and lines[1].startswith("0\tScribbet 5\t5\t"), answer)
        self.assertEqual(lines[2:], ["kept\t" + a])
        self.assertEqual(self.names(), ["Scribbet " + a, "Scribbet " + c, "Scribbet 5"])
        manager.undo()  # one step still: b comes back, the new shape goes
        self.assertEqual(self.names(), before)
        # Only removing, refused: the answer says so and nothing changed.
        self.assertEqual(placing.insert(self.host, ["", "#1F1F1F", "1", "none", a, "256"])[:4], "ERR|")
        self.assertEqual(self.names(), before)

    def test_a_freeform_back_from_pptx_can_be_replaced_and_brought_back(self):
        lines = self.insert("M 0 0 L 50 0 L 50 50 Z M 60 60 C 60 70 70 70 70 60", "#1F1F1F",
                            "1", "#FF0000", "", "")
        back = self.store_and_load("Impress Office Open XML", "pptx")
        self.host.current = back  # the document the macros work on
        page = back.getDrawPages().getByIndex(0)
        old_points = [outline_points(page.getByIndex(i)) for i in range(2)]
        answer = placing.insert(self.host, ["M 5 5 L 9 9", "#1F1F1F", "1", "none",
                                            ",".join(line[2] for line in lines), ""])
        self.assertTrue(answer.startswith("OK|1\n0\tScribbet 4\t4\t"), answer)
        self.assertEqual(self.names(page), ["Scribbet 4"])
        back.getUndoManager().undo()
        self.assertEqual(self.names(page), ["Scribbet 2", "Scribbet 3"])
        for i in range(2):
            for (gx, gy), (wx, wy) in zip(outline_points(page.getByIndex(i)), old_points[i]):
                self.assertLess(max(abs(gx - wx), abs(gy - wy)), 0.5)
        self.assertEqual(page.getByIndex(0).FillColor, 0xFF0000)

    def test_identifiers_are_new_in_the_whole_document(self):
        pages = self.doc.getDrawPages()
        pages.insertNewByIndex(0)
        second = self.host.slide_numbers()[1][1]
        one = self.insert("M 0 0 L 1 1", "#1F1F1F", "1", "none", "", str(second))
        two = self.insert("M 0 0 L 1 1", "#1F1F1F", "1", "none", "", "")
        self.assertEqual(int(two[0][2]), int(one[0][2]) + 1)

    def test_a_read_only_document_is_refused_untouched(self):
        url = "file://%s/readonly.odp" % self.office.dir
        self.doc.storeToURL(url, (prop("FilterName", "impress8"),))
        ro = self.host.desktop.loadComponentFromURL(url, "_blank", 0, (prop("ReadOnly", True),))
        self.addCleanup(self._close, ro)
        self.host.current = ro
        self.assertEqual(placing.insert(self.host, ["M 0 0 L 1 1", "#1F1F1F", "1", "none", "",
                                                    ""]), "ERR|" + placing.READ_ONLY)
        self.assertEqual(self.names(ro.getDrawPages().getByIndex(0)), [])


class SlideIdsTest(LiveCase):
    def test_kept_through_odp_and_fresh_unique_from_256_after_pptx(self):
        pages = self.doc.getDrawPages()
        for _ in range(3):
            pages.insertNewByIndex(pages.getCount() - 1)
        self.assertEqual([sid for _, sid in self.host.slide_numbers(self.doc)],
                         [256, 257, 258, 259])
        pages.remove(pages.getByIndex(0))  # a number used once is never lent again
        made = [sid for _, sid in self.host.slide_numbers(self.doc)]
        self.assertEqual(made, [257, 258, 259])
        odp = self.store_and_load("impress8", "odp")
        self.assertEqual([sid for _, sid in self.host.slide_numbers(odp)], made)
        pptx = self.store_and_load("Impress Office Open XML", "pptx")
        back = [sid for _, sid in self.host.slide_numbers(pptx)]
        self.assertEqual(back, [256, 257, 258])
        page = self.host.page_by_id(258, pptx)
        self.assertEqual(page.Number, 3)


THEME = (0x101010, 0xF0F0F0, 0x202020, 0xE0E0E0, 0xC00000, 0x00A000, 0x0000B0, 0xD0D000,
         0x00C0C0, 0xB000B0, 0x123456, 0xABCDEF)


class ThemeTest(LiveCase):
    def set_theme(self, colours):
        values = (prop("Name", "Test"), prop("ColorSchemeName", "Test"),
                  prop("ColorScheme", uno.Any("[]long", colours)))
        uno.invoke(self.page.getMasterPage(), "setPropertyValue",
                   ("Theme", uno.Any("[]com.sun.star.beans.PropertyValue", values)))

    def test_the_masters_colours_are_answered_and_fills_follow_them(self):
        self.set_theme(THEME)
        self.assertEqual(theme.theme(self.host, []), "OK|" + "|".join(
            "#%06X" % c for c in THEME))
        name = self.insert("M 0 0 L 10 0 L 10 10 Z", "theme:3", "1", "theme:5", "", "")[0][1]
        shape = self.page.getByIndex(self.names().index(name))
        self.assertEqual((shape.FillColor, shape.FillColorTheme), (0xC00000, 4))
        self.assertEqual(shape.LineColor, 0x202020)  # 7.4 ties no outline: its plain colour
        self.set_theme(THEME[:4] + (0x00FF00,) + THEME[5:])
        self.assertEqual(shape.FillColor, 0x00FF00)

    def test_without_a_theme_the_office_colours_stay_through_pptx(self):
        self.assertEqual(theme.theme(self.host, []),
                         "OK|#000000|#FFFFFF|#44546A|#E7E6E6|#4472C4|#ED7D31|#A5A5A5|#FFC000|"
                         "#5B9BD5|#70AD47|#0563C1|#954F72")
        self.insert("M 0 0 L 10 0 L 10 10 Z", "theme:5", "1", "theme:6", "", "")
        back = self.store_and_load("Impress Office Open XML", "pptx")
        shape = back.getDrawPages().getByIndex(0).getByIndex(0)
        self.assertEqual((shape.LineColor, shape.FillColor), (0x4472C4, 0xED7D31))


class FiguresTest(LiveCase):
    def test_a_hundred_strokes_in_well_under_a_second_and_a_half(self):
        path = " ".join("M %d %d L %d %d L %d %d C %d %d %d %d %d %d" % (
            i, i, i + 50, i + 3, i + 80, i + 40, i + 90, i + 50, i + 95, i + 60, i + 99, i + 99)
            for i in range(100))
        start = time.perf_counter()
        lines = self.insert(path, "#1F1F1F", "2", "none", "", "")
        took = time.perf_counter() - start
        FIGURES.append("100-stroke placing: %.0f ms (in soffice)\n" % (took * 1000))
        self.assertEqual(len(lines), 100)
        self.assertLess(took, 1.5)

    def test_slide_picture_at_1280_pixels(self):
        self.insert("M 0 0 L 960 540", "#FF0000", "20", "none", "", "")
        picture.slide(self.host, ["64"])  # the first export loads the filter
        start = time.perf_counter()
        answer = picture.slide(self.host, ["1280"])
        took = time.perf_counter() - start
        FIGURES.append("slide picture at 1280 px: %.0f ms (in soffice)\n" % (took * 1000))
        self.assertTrue(answer.startswith("OK|1|793.7|446.46|iVBORw0KGgo"), answer[:60])

    def test_pptx_saves_after_many_placings_undos_and_redos(self):
        manager = self.doc.getUndoManager()
        shown = [""]  # the identifiers each placing left, the last on the slide now
        for round_ in range(40):
            lines = self.insert("M %d 0 L 50 50 M 0 %d L 9 9 Z" % (round_, round_), "#1F1F1F",
                                "1", "theme:3", shown[-1], "")
            shown.append(",".join(line[2] for line in lines))
            if round_ % 5 == 4:
                manager.undo()
                manager.undo()
                manager.redo()
                shown.pop()
        for i in range(3):
            self.store_and_load("Impress Office Open XML", "pptx")
            manager.undo()
        self.assertEqual(len(self.names()), 2)

