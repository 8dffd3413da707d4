"""SCBT_Insert's checks, made against fake pages: a refused call touches nothing.

The placing itself (shapes, undo, round trips) is tested against the real Impress in
test_placing_live.py.
"""

import unittest

import _paths  # noqa: F401
from scribbet_impress import placing, view


class FakeShape:
    def __init__(self, name, kind="com.sun.star.drawing.OpenBezierShape"):
        self.Name, self.ShapeType = name, kind


class FakePage:
    def __init__(self, *shapes):
        self.shapes = list(shapes)
        self.changes = []

    def getCount(self):
        return len(self.shapes)

    def getByIndex(self, i):
        return self.shapes[i]

    def add(self, shape):
        self.changes.append(("add", shape))

    def remove(self, shape):
        self.changes.append(("remove", shape))


class _Resource:
    def __init__(self, url, anchor=None):
        self.url, self.anchor = url, anchor

    def getResourceURL(self):
        return self.url

    def getAnchor(self):
        return self.anchor


class FakeController:
    def __init__(self, page, view_url=view.NORMAL_VIEW, master=False):
        self.page, self.view_url, self.master = page, view_url, master

    def getConfigurationController(self):
        return self

    def getCurrentConfiguration(self):
        return self

    def getResources(self, anchor, prefix, mode):
        return [_Resource(self.view_url, _Resource(view.CENTER_PANE))]

    def getPropertyValue(self, name):
        assert name == "IsMasterPageMode"
        return self.master

    def getCurrentPage(self):
        return self.page


class FakeModel:
    def isReadonly(self):
        return True  # a placing that got past the checks stops here, before any change


class FakeHost:
    def __init__(self, pages, controller=None, window=True):
        self.pages = pages  # {slide id: page}
        self._controller = controller or FakeController(pages[256])
        self.window = window

    def model(self):
        return FakeModel() if self.window else None

    def controller(self):
        return self._controller if self.window else None

    def page_by_id(self, number, model=None):
        return self.pages.get(number)


def host_with(shapes_256=(), shapes_257=(), **kw):
    pages = {256: FakePage(*shapes_256), 257: FakePage(*shapes_257)}
    return FakeHost(pages, **kw), pages


def insert(host, *args):
    return placing.insert(host, list(args))


class ChecksTest(unittest.TestCase):
    def test_each_argument_is_checked_in_the_contract_order(self):
        host, pages = host_with([FakeShape("Scribbet 2")])
        cases = [
            (("M 1 2 M 3 4", "red", "NaN", "red", "9", "1"),
             "ERR|A part of the drawing has no lines or curves."),
            (("M 0 0 L 1 1", "red", "NaN", "red", "9", "1"),
             'ERR|The outline colour "red" is not one the add-in knows.'),
            (("M 0 0 L 1 1", " #1F1F1F ", "NaN", "red", "9", "1"),
             'ERR|The fill colour "red" is not one the add-in knows.'),
            (("M 0 0 L 1 1", "#1F1F1F", "1584.5", "none", "9", "1"),
             'ERR|The line width "1584.5" is not a number of points from 0 to 1584.'),
            (("M 0 0 L 1 1", "#1F1F1F", "1", "none", "9", "99999"),
             "ERR|There is no slide with the identifier 99999."),
            (("M 0 0 L 1 1", "#1F1F1F", "1", "none", "9", "x"),
             "ERR|There is no slide with the identifier x."),
            (("M 0 0 L 1 1", "#1F1F1F", "1", "none", "2, 9", ""),
             "ERR|There is no shape with the identifier 9 on that slide."),
            (("M 0 0 L 1 1", "#1F1F1F", "1", "none", "2", "257"),
             "ERR|There is no shape with the identifier 2 on that slide."),
            (("M 0 0 L 1 1", "#1F1F1F", "1", "none", "2", "256"), "ERR|" + placing.READ_ONLY),
        ]
        for args, answer in cases:
            with self.subTest(args=args):
                self.assertEqual(insert(host, *args), answer)
        self.assertEqual(pages[256].changes + pages[257].changes, [])

    def test_a_blank_path_only_removes_when_it_names_shapes(self):
        host, _ = host_with([FakeShape("Scribbet 2")])
        self.assertEqual(insert(host, " \t", "#1F1F1F", "1", "none", " , ", ""),
                         "ERR|There is nothing to place: the drawing is empty.")
        # naming a shape: the path is not read, the rest still is
        self.assertEqual(insert(host, "", "#1F1F1F", "1", "none", "2", ""),
                         "ERR|" + placing.READ_ONLY)
        self.assertEqual(insert(host, "", "red", "1", "none", "2", ""),
                         'ERR|The outline colour "red" is not one the add-in knows.')

    def test_only_scribbets_own_path_shapes_can_be_replaced(self):
        host, _ = host_with([FakeShape("Scribbet 3", "com.sun.star.drawing.RectangleShape"),
                             FakeShape("Scribbet 04x"), FakeShape("Freeform 5")])
        for sid in ("3", "4", "5"):
            with self.subTest(sid=sid):
                self.assertEqual(
                    insert(host, "M 0 0 L 1 1", "#1F1F1F", "1", "none", sid, ""),
                    "ERR|There is no shape with the identifier %s on that slide." % sid)

    def test_the_view_decides_for_the_current_slide_only(self):
        pages = {256: FakePage(), 257: FakePage()}
        sorter = FakeHost(pages, FakeController(pages[256], "private:resource/view/SlideSorter"))
        self.assertEqual(insert(sorter, "M 0 0 L 1 1", "#1F1F1F", "1", "none", "", ""),
                         "ERR|" + placing.NOT_NORMAL)
        self.assertEqual(insert(sorter, "M 0 0 L 1 1", "#1F1F1F", "1", "none", "", "257"),
                         "ERR|" + placing.READ_ONLY)  # a named slide needs no Normal view
        master = FakeHost(pages, FakeController(pages[256], master=True))
        self.assertEqual(insert(master, "M 0 0 L 1 1", "#1F1F1F", "1", "none", "", ""),
                         "ERR|" + placing.NOT_NORMAL)
        gone = FakeHost(pages, window=False)
        for slide in ("", "256"):
            self.assertEqual(insert(gone, "M 0 0 L 1 1", "#1F1F1F", "1", "none", "", slide),
                             "ERR|" + placing.NO_WINDOW)


class BehindModel(FakeModel):
    """Another open document than the current one, its window showing `page`."""

    def __init__(self, controller):
        self.controller = controller

    def getCurrentController(self):
        return self.controller


class PresentationTest(unittest.TestCase):
    def test_the_named_presentation_is_the_one_looked_in_and_a_closed_one_refused(self):
        host, pages = host_with([FakeShape("Scribbet 2")])
        behind = BehindModel(FakeController(pages[257]))
        host.model_by_key = lambda key: behind if key == "impress:1" else None
        for slide in ("", "256"):
            with self.subTest(slide=slide):
                self.assertEqual(insert(host, "M 0 0 L 1 1", "#1F1F1F", "1", "none", "2", slide,
                                        "impress:9"), "ERR|" + placing.GONE)
        # what it checks in its own arguments comes first
        self.assertEqual(insert(host, "M 0 0 L 1 1", "red", "1", "none", "", "", "impress:9"),
                         'ERR|The outline colour "red" is not one the add-in knows.')
        # found: its own current slide (257 here, where shape 2 is not), or the slide named,
        # and no window of the current document is needed
        self.assertEqual(insert(host, "", "#1F1F1F", "1", "none", "2", "", "impress:1"),
                         "ERR|There is no shape with the identifier 2 on that slide.")
        self.assertEqual(insert(host, "M 0 0 L 1 1", "#1F1F1F", "1", "none", "", "", "impress:1"),
                         "ERR|" + placing.READ_ONLY)
        windowless = FakeHost(pages, window=False)
        windowless.model_by_key = host.model_by_key
        self.assertEqual(insert(windowless, "M 0 0 L 1 1", "#1F1F1F", "1", "none", "", "256",
                                "impress:1"), "ERR|" + placing.READ_ONLY)
        behind.controller = FakeController(pages[257], "private:resource/view/SlideSorter")
        self.assertEqual(insert(host, "M 0 0 L 1 1", "#1F1F1F", "1", "none", "", "", "impress:1"),
                         "ERR|There is no slide showing in Impress's window of the presentation "
                         "you drew on.")
        self.assertEqual(pages[256].changes + pages[257].changes, [])

if __name__ == "__main__":
    unittest.main()
