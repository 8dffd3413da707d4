#!/usr/bin/env python3
"""What the add-in's macros do with PowerPoint's objects, run through a small interpreter of
the VBA they are written in (vba_subset.py) whose PowerPoint is a pretend one: the links
opened through the ribbon helper on a Mac, the shapes a placing removes when one refuses, and
the refusals without a Normal view. The helpers and the checks before PowerPoint run in
LibreOffice Basic (basic_run_test.py)."""
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import vba_subset  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
VM = vba_subset.VM(ROOT / "addin/powerpoint")


def run(module, proc, *args):
    return VM.run(module, proc, *args)


def packaged_modules(folder, **links):
    """The add-in's modules as the packager writes them (its link addresses, or `links`)."""
    sys.path.insert(0, str(ROOT / "scripts/addin"))
    import package
    package.stamp_modules(ROOT / "addin/powerpoint", folder, "9.9.9", links)
    return vba_subset.VM(folder)


class RibbonHelper:
    """AppleScriptTask while a test runs: notes each call, and fails when told to."""

    def __init__(self, test, fails=False):
        self.calls, self.fails = [], fails
        vba_subset.BUILTINS["applescripttask"] = self
        test.addCleanup(vba_subset.BUILTINS.pop, "applescripttask")

    def __call__(self, vm, args):
        self.calls.append(args)
        if self.fails:
            raise vba_subset.VbError(-2700, "The script could not be found.")
        return "OK"


class TheLinksLeadToTheProjectsPages(unittest.TestCase):
    """The page's "upgrade" and "support" links: opened when the add-in was packaged with their
    pages, a note the page shows otherwise, and never an ERR for a link the page may ask for."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def test_a_packaged_copy_opens_each_page_through_the_helper(self):
        vm = packaged_modules(Path(self.tmp.name))
        vm.constants["mac"] = True
        helper = RibbonHelper(self)
        self.assertEqual(vm.run("SCBT_Pen", "SCBT_LinkQuery", "upgrade"), "OK|opened")
        self.assertEqual(vm.run("SCBT_Pen", "SCBT_LinkQuery", "support"), "OK|opened")
        import package
        self.assertEqual(helper.calls, [["Scribbet.scpt", "openLink", package.LINK_ADDRESSES["upgrade"]],
                                        ["Scribbet.scpt", "openLink", package.LINK_ADDRESSES["support"]]])

    def test_when_the_helper_cannot_open_it_the_note_names_the_page(self):
        vm = packaged_modules(Path(self.tmp.name), support="https://example.org/help")
        vm.constants["mac"] = True
        RibbonHelper(self, fails=True)
        self.assertEqual(vm.run("SCBT_Pen", "SCBT_LinkQuery", "support"),
                         "OK|soon|Open https://example.org/help in your browser.")
        vm.constants["mac"] = False  # no helper off a Mac
        self.assertEqual(vm.run("SCBT_Pen", "SCBT_LinkQuery", "support"),
                         "OK|soon|Open https://example.org/help in your browser.")

    def test_only_a_web_page_is_handed_to_the_helper(self):
        folder = Path(self.tmp.name)
        packaged_modules(folder)
        pen = folder / "SCBT_Pen.bas"
        text = pen.read_bytes()
        import package
        pen.write_bytes(text.replace(package.LINK_ADDRESSES["upgrade"].encode(), b"file:///Applications/Calculator.app"))
        vm = vba_subset.VM(folder)
        vm.constants["mac"] = True
        helper = RibbonHelper(self)
        self.assertEqual(vm.run("SCBT_Pen", "SCBT_LinkQuery", "upgrade"),
                         "OK|soon|This copy of the add-in has no address for the upgrade link yet.")
        self.assertEqual(helper.calls, [])
        for address, web in [("https://a.example/x?y=1#z", True), ("HTTP://A.EXAMPLE", True), ("https://", False),
                             ("ftp://a.example", False), ("https://a b", False), ('https://a"b', False),
                             ("https://caf\u00e9.example", False), ("https://a\tb", False), ("", False),
                             ("javascript:alert(1)", False), ("x-apple.systempreferences:", False)]:
            self.assertEqual(run("SCBT_Pen", "IsWebAddress", address), web, address)


class PretendSlide:
    """A slide's shapes as PowerPoint objects: freeforms built by BuildFreeform, and shapes that
    PowerPoint refuses to delete (as it does a shape another author has open, say)."""

    def __init__(self):
        self.shapes = []
        self.next_id = 100
        self.object = vba_subset.Object(Shapes=vba_subset.Object(BuildFreeform=vba_subset.Method(self.builder)))

    def shape(self, shape_id, refuses=False):
        colour = lambda: vba_subset.Object(RGB=0, ObjectThemeColor=0)
        s = vba_subset.Object(Id=shape_id, Name=f"Freeform {shape_id}", Left=1, Top=2, Width=3, Height=4, Rotation=0,
                              HorizontalFlip=0, VerticalFlip=0,
                              Line=vba_subset.Object(Visible=0, Weight=0, Transparency=0, ForeColor=colour()),
                              Fill=vba_subset.Object(Visible=0, Transparency=0, ForeColor=colour(),
                                                     Solid=vba_subset.Method(lambda args: None)))

        def delete(args):
            if refuses:
                raise vba_subset.VbError(-2147467259, "The shape is in use by another author.")
            self.shapes.remove(s)
        s["Delete"] = vba_subset.Method(delete)
        self.shapes.append(s)
        return s

    def builder(self, args):
        def convert(args):
            self.next_id += 1
            return self.shape(self.next_id)
        return vba_subset.Object(AddNodes=vba_subset.Method(lambda a: None), ConvertToShape=vba_subset.Method(convert))

    def ids(self):
        return [s["Id"] for s in self.shapes]


class AReplacedShapeThatStaysIsNeverAnOk(unittest.TestCase):
    """The insert's last step, removing the shapes the drawing replaces: a refusal of the first
    leaves the slide as it was and answers ERR; one after others are gone keeps the drawing and
    names the kept shape in the answer."""

    def setUp(self):
        self.vm = vba_subset.VM(ROOT / "addin/powerpoint")
        self.vm.constants.update({"msotrue": -1, "msofalse": 0, "msoeditingcorner": 1, "msoeditingauto": 0,
                                  "msosegmentline": 0, "msosegmentcurve": 1})
        self.slide = PretendSlide()

    def place(self, path, doomed):
        parts, count = [vba_subset.Array("PathPart", [], self.vm.types)], [0]
        if path:
            self.assertEqual(self.vm.run("SCBT_Path", "Parse", path, parts, count), "")
        paint = [vba_subset.default("Paint", self.vm.types)]
        self.assertTrue(self.vm.run("SCBT_Pen", "ReadPaint", "#1F1F1F", paint))
        return self.vm.run("SCBT_Pen", "PlaceParts", self.slide.object, parts[0], count[0], paint[0], 1.0, paint[0],
                           vba_subset.collection(doomed))

    def test_a_refusal_before_any_removal_leaves_the_slide_as_it_was(self):
        old = [self.slide.shape(5, refuses=True), self.slide.shape(6)]
        answer = self.place("M 0 0 L 10 10 M 20 20 L 30 30", old)
        self.assertEqual(answer, "ERR|PowerPoint would not remove the shape with the identifier 5, so the slide is "
                                 "left as it was (The shape is in use by another author).")
        self.assertEqual(self.slide.ids(), [5, 6])  # the two new freeforms went again, 6 was not touched

    def test_a_removal_only_is_refused_the_same_way(self):
        old = [self.slide.shape(5, refuses=True)]
        self.assertRegex(self.place("", old), r"^ERR\|PowerPoint would not remove the shape with the identifier 5, ")
        self.assertEqual(self.slide.ids(), [5])

    def test_a_refusal_after_a_removal_keeps_the_drawing_and_names_the_kept_shape(self):
        old = [self.slide.shape(5), self.slide.shape(6, refuses=True), self.slide.shape(7),
               self.slide.shape(8, refuses=True)]
        answer = self.place("M 0 0 L 10 10", old)
        self.assertEqual(answer, "OK|1\n0\tFreeform 101\t101\t1\t2\t3\t4\t0\t0\t0\nkept\t6\nkept\t8")
        self.assertEqual(self.slide.ids(), [6, 8, 101])
        self.assertEqual(self.place("", [self.slide.shapes[-1], self.slide.shapes[0]]), "OK|0\nkept\t6")

    def test_every_removal_done_answers_the_placed_lines_alone(self):
        old = [self.slide.shape(5), self.slide.shape(6)]
        self.assertEqual(self.place("M 0 0 L 10 10", old), "OK|1\n0\tFreeform 101\t101\t1\t2\t3\t4\t0\t0\t0")
        self.assertEqual(self.slide.ids(), [101])


def record(**members):
    r = vba_subset.Record(members)
    r.kinds = {name: (None, False) for name in members}
    return r


class SlideLookup:
    """FindBySlideID of a pretend presentation: notes what it was asked and goes no further
    (the slide and its shapes are PowerPoint's)."""

    def __init__(self):
        self.asked = []

    def get(self, args):
        self.asked.append(args[0])
        raise vba_subset.VbUnknown("the slide itself is PowerPoint's")


def pretend_powerpoint(view_type, windows=1):
    """A fresh interpreter whose Application has one presentation and `windows` document
    windows, the active one showing `view_type` (PpViewType: Normal 9, Slide 1, Slide Sorter 7)."""
    vm = vba_subset.VM(ROOT / "addin/powerpoint")
    lookup = SlideLookup()
    presentation = record(Slides=record(FindBySlideID=lookup))
    vm.constants.update({"ppviewnormal": 9, "ppviewslide": 1, "ppviewslidesorter": 7, "application": record(
        Presentations=record(Count=1), Windows=record(Count=windows), ActiveWindow=record(ViewType=view_type),
        ActivePresentation=presentation)})
    return vm, lookup


class TheMacrosRefuseWithoutANormalView(unittest.TestCase):
    """In the slide sorter or with no window, every macro that works on the slide showing
    answers the stand-in's sentence (standin/macros.cpp) before it touches the slide."""

    SORTER = "ERR|PowerPoint's window is not in Normal view: choose View > Normal to draw on a slide."
    NO_WINDOW = "ERR|PowerPoint has no window showing a presentation."

    def answers(self, vm, slide_id=""):
        insert = lambda path, replace="": vm.run("SCBT_Pen", "SCBT_Insert", path, "#1F1F1F", "1", "none", replace,
                                                 slide_id)
        return [vm.run("SCBT_Pen", "SCBT_Geom"), vm.run("SCBT_Pen", "SCBT_Where"),
                vm.run("SCBT_Pen", "SCBT_Zoom", "fit"), vm.run("SCBT_Pen", "SCBT_Slide", "64"),
                vm.run("SCBT_Pen", "SCBT_Theme"), insert("M 0 0 L 10 10"), insert(" ", "5")]

    def test_the_slide_sorter(self):
        vm, lookup = pretend_powerpoint(7)
        self.assertEqual(self.answers(vm), [self.SORTER] * 7)
        # What is checked before the view still comes first.
        self.assertEqual(vm.run("SCBT_Pen", "SCBT_Zoom", "75"), 'ERR|The add-in cannot set the zoom to "75".')
        self.assertEqual(vm.run("SCBT_Pen", "SCBT_Slide", "0"),
                         "ERR|The picture width must be a whole number of pixels from 1 to 8192.")
        self.assertEqual(vm.run("SCBT_Pen", "SCBT_Insert", "M 0 0 L 1 1", "red", "1", "none", "", ""),
                         'ERR|The outline colour "red" is not one the add-in knows.')
        # A slide named by identifier needs no Normal view: the insert goes on to find it.
        self.assertEqual(lookup.asked, [])
        with self.assertRaisesRegex(vba_subset.VbUnknown, "PowerPoint's"):
            vm.run("SCBT_Pen", "SCBT_Insert", "M 0 0 L 10 10", "#1F1F1F", "1", "none", "", "257")
        self.assertEqual(lookup.asked, [257])

    def test_no_window(self):
        vm, lookup = pretend_powerpoint(9, windows=0)
        self.assertEqual(self.answers(vm), [self.NO_WINDOW] * 7)
        # Not even a slide named by identifier: which presentation it belongs to is the window's.
        self.assertEqual(self.answers(vm, slide_id="257")[5:], [self.NO_WINDOW] * 2)
        self.assertEqual(lookup.asked, [])

    def test_other_views_than_normal_are_refused_too(self):
        for view_type in [2, 3, 6, 10, 11]:  # slide master, notes page, outline, print preview, thumbnails
            vm, _ = pretend_powerpoint(view_type)
            self.assertEqual(vm.run("SCBT_Pen", "SCBT_Geom"), self.SORTER, view_type)


if __name__ == "__main__":
    unittest.main()
