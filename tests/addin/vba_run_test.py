#!/usr/bin/env python3
"""The add-in's helpers and the checks its macros make before they touch PowerPoint, run
through a small interpreter of the VBA they are written in (vba_subset.py): numbers written
and read with a point, Base64, the drawing's path text, the contract cases' patterns, the
colour texts, and the refusals the macros answer word for word as the stand-in does."""
import base64
import random
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


def standin_num(v):
    """The stand-in's number text (standin/macros.cpp num): three decimals, no trailing zeros."""
    s = "%.3f" % v
    s = s.rstrip("0").rstrip(".")
    return "0" if s == "-0" else s


class NumbersTravelWithAPoint(unittest.TestCase):
    def test_num_writes_as_the_stand_in_does(self):
        rng = random.Random(7)
        values = [0, 1, -1, 0.5, -0.5, 2.25, 1e-4, -1e-4, 0.0005, 959.9996, 1234567.891, -80.125, 100.1]
        values += [rng.uniform(-5000, 5000) for _ in range(300)] + [rng.randint(-9999, 9999) / 8 for _ in range(100)]
        for v in values:
            self.assertEqual(run("SCBT_Text", "Num", float(v)), standin_num(v), v)

    def test_read_decimal_takes_the_usual_forms_whole(self):
        for s, want in [("1", 1), ("-2.5", -2.5), ("+3", 3), (".5", 0.5), ("5.", 5), ("1e3", 1000), ("1E-2", 0.01),
                        ("0", 0), ("0.0e5", 0), ("1584", 1584), ("007", 7)]:
            cell = [0.0]
            self.assertTrue(run("SCBT_Text", "ReadDecimal", s, cell), s)
            self.assertAlmostEqual(cell[0], want, msg=s)
        for s in ["", "abc", "1,5", "1.5.5", "nan", "NaN", "inf", "1e", "--1", " 1", "1 ", "1e999", "-1e999",
                  "1e-999", "0x10", "&H10", ".", "-", "1d5", "1e+"]:
            self.assertFalse(run("SCBT_Text", "ReadDecimal", s, [0.0]), s)

    def test_read_whole_takes_digits_and_a_minus_only(self):
        for s, want in [("12", 12), ("-3", -3), ("007", 7), ("8192", 8192)]:
            cell = [0.0]
            self.assertTrue(run("SCBT_Text", "ReadWhole", s, cell), s)
            self.assertEqual(cell[0], want)
        for s in ["+1", "1.0", "", "-", "1 ", " 1", "1e3", "12a", "--1", "1234567890123456789"]:
            self.assertFalse(run("SCBT_Text", "ReadWhole", s, [0.0]), s)

    def test_trim_and_colours(self):
        self.assertEqual(run("SCBT_Text", "TrimBlank", " \t fit \r\n"), "fit")
        self.assertEqual(run("SCBT_Text", "TrimBlank", "   "), "")
        # VBA holds red in the low byte.
        self.assertEqual(run("SCBT_Text", "HexColour", 0x31_7D_ED), "#ED7D31")
        self.assertEqual(run("SCBT_Text", "HexColour", 0), "#000000")
        self.assertEqual(run("SCBT_Text", "HexValue", "1f1F1f"), 0x1F1F1F)
        for bad in ["", "12345G", "123456789", " 1"]:
            self.assertEqual(run("SCBT_Text", "HexValue", bad), -1, bad)


class Base64IsTheStandardOne(unittest.TestCase):
    def encode(self, data):
        arr = vba_subset.Array("Byte", [(0, max(len(data) - 1, 0))], {})
        for i, b in enumerate(data):
            arr.items[(i,)] = b
        return run("SCBT_Base64", "Encode", [arr], len(data))

    def test_every_length_and_byte(self):
        rng = random.Random(3)
        for n in list(range(0, 12)) + [255, 256, 1000]:
            data = bytes(rng.randrange(256) for _ in range(n))
            self.assertEqual(self.encode(data), base64.b64encode(data).decode(), n)
        self.assertEqual(self.encode(bytes(range(256))), base64.b64encode(bytes(range(256))).decode())

    def test_a_png_starts_as_the_contract_expects(self):
        self.assertTrue(self.encode(b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR").startswith("iVBORw0KGgo"))
        self.assertEqual(run("SCBT_Base64", "EncodeText", "Man"), "TWFu")


def parse(text):
    parts, count = [None], [0]
    problem = run("SCBT_Path", "Parse", text, parts, count)
    if problem:
        return problem
    out = []
    for i in range(1, count[0] + 1):
        p = parts[0].items[(i,)]
        segs = [p["segs"].items[(j,)] for j in range(1, p["segCount"] + 1)]
        out.append(((p["startX"], p["startY"]), [(s["curve"], s["x1"], s["y1"], s["x2"], s["y2"], s["x"], s["y"])
                                                 if s["curve"] else (False, s["x"], s["y"]) for s in segs], p["closed"]))
    return out


class ThePathTextIsReadWholeOrNotAtAll(unittest.TestCase):
    def test_lines_curves_and_closed_parts(self):
        self.assertEqual(parse("M 1 2 L 3 4"), [((1, 2), [(False, 3, 4)], False)])
        self.assertEqual(parse("M0,0 L10,0 10,10 Z M 5 5 C 1 2 3 4 5 6"),
                         [((0, 0), [(False, 10, 0), (False, 10, 10)], True),
                          ((5, 5), [(True, 1, 2, 3, 4, 5, 6)], False)])
        # Pairs after M are lines; numbers run together where a sign or a second point starts one.
        self.assertEqual(parse("M 0 0 10-5 1.5.5"), [((0, 0), [(False, 10, -5), (False, 1.5, 0.5)], False)])
        self.assertEqual(parse(" M -1e2 +2.5E1 L .5 5. "), [((-100, 25), [(False, 0.5, 5)], False)])
        self.assertEqual(len(parse("M 0 0 L 1 1 M 2 2 L 3 3 M 4 4 L 5 5 Z")), 3)
        many = "M 0 0 " + " ".join(f"L {i} {i}" for i in range(1, 40))
        self.assertEqual(len(parse(many)[0][1]), 39)

    def test_each_fault_has_the_stand_ins_sentence(self):
        faults = {
            "": "There is nothing to place: the drawing is empty.",
            "   ": "There is nothing to place: the drawing is empty.",
            "M 1 2 M 3 4": "A part of the drawing has no lines or curves.",
            "M 1 2": "A part of the drawing has no lines or curves.",
            "M 1": "The drawing has a number missing.",
            "M 1 2 L": "The drawing has a number missing.",
            "M 1 2 C 1 2 3 4 5": "The drawing has a number missing.",
            "M 1 2 L 3 NaN": "The drawing has a number missing.",
            "M 1 2 L 3 -": "The drawing has a number that cannot be read.",
            "M 1 2 L 3 1e": "The drawing has a number that cannot be read.",
            "M 1 2 L 3 1e999": "The drawing has a coordinate too far from the slide.",
            "M 1 2 L 3 2000000": "The drawing has a coordinate too far from the slide.",
            "M 1 2 m 3 4": 'The drawing uses the path command "m", but only absolute M, L, C and Z are understood.',
            "M 1 2 l 3 4": 'The drawing uses the path command "l", but only absolute M, L, C and Z are understood.',
            "M 1 2 c 1 2 3 4 5 6": 'The drawing uses the path command "c", but only absolute M, L, C and Z are understood.',
            "M 1 2 Q 1 2 3 4": 'The drawing uses the path command "Q", but only absolute M, L, C and Z are understood.',
            "M 1 2 L 3 4 #": 'The drawing has an unexpected character "#".',
            "5 M 1 2 L 3 4": 'The drawing has an unexpected character "5".',
            "L 1 2": "The drawing must begin with M, not L.",
            "Z": "The drawing must begin with M, not Z.",
            "M 1 2 L 3 4 Z L 5 6": "A part of the drawing after Z must begin with M.",
            "M 1 2 L 3 4 Z 5 6": "The drawing has numbers after Z.",
            "M 1 2 L 3 4,": "The drawing has a comma where a number should be.",
            "M 1 2, L 3 4": "The drawing has a comma where a number should be.",
            "M 1 2 L 3 4 text": 'The drawing uses the path command "t", but only absolute M, L, C and Z are understood.',
        }
        for text, sentence in faults.items():
            self.assertEqual(parse(text), sentence, text)


class ContractPatterns(unittest.TestCase):
    def setUp(self):
        run("SCBT_SelfTest", "ForgetBindings")

    def matches(self, pattern, answer):
        return run("SCBT_SelfTest", "Matches", pattern, answer)

    def test_stars_stop_at_separators(self):
        self.assertTrue(self.matches("OK|*|*", "OK|960|540"))
        self.assertTrue(self.matches("OK|*", "OK|"))
        self.assertFalse(self.matches("OK|*", "OK|960|540"))
        self.assertFalse(self.matches("OK|*", "OK|1\n0\tx"))
        self.assertFalse(self.matches("OK|*", "OK|1\n0"))
        self.assertFalse(self.matches("OK|{n}", "OK|1\t0"))
        self.assertTrue(self.matches("OK|1\\n0\\t*", "OK|1\n0\tshape"))
        self.assertTrue(self.matches("a\\*b", "a*b"))
        self.assertFalse(self.matches("a\\*b", "axb"))
        self.assertTrue(self.matches("back\\\\slash", "back\\slash"))
        self.assertTrue(self.matches("OK|3|960|540|iVBORw0KGgo*", "OK|3|960|540|iVBORw0KGgoAAAA"))
        self.assertFalse(self.matches("OK|3", "OK|30"))

    def test_bindings_hold_and_are_reused(self):
        self.assertTrue(self.matches("OK|1\\n0\\t{name}\\t{id}\\t*", "OK|1\n0\tFreeform 3\t3\t10"))
        self.assertEqual(self.argument("{id},{id} {name}\\t{ id}{a-b}{}"), ("3,3 Freeform 3\t{ id}{a-b}{}", ""))
        self.assertEqual(self.argument("x{other}"), ("", "{other} is used before it is bound"))
        self.assertTrue(self.matches("{id}", "3"))
        self.assertFalse(self.matches("{id}", "4"))
        # A name bound twice in one pattern must match the same text both times.
        self.assertTrue(self.matches("{x}|{x}", "7|7"))
        self.assertFalse(self.matches("{y}|{y}", "7|8"))
        self.assertEqual(self.argument("{y}")[1], "{y} is used before it is bound")  # a failed match binds nothing

    def argument(self, raw):
        problem = [""]
        return run("SCBT_SelfTest", "Argument", raw, problem), problem[0]

    def test_only_letters_digits_and_underscores_make_a_name(self):
        self.assertTrue(self.matches("{ a}|{a-b}|{}|{a", "{ a}|{a-b}|{}|{a"))
        self.assertFalse(self.matches("{ a}", "x"))
        self.assertFalse(self.matches("{a-b}", "x"))
        self.assertTrue(self.matches("{A_9}|{\\t}", "x|{\t}"))  # an escape inside braces is one
        self.assertEqual(self.argument("{A_9}"), ("x", ""))

    def test_the_given_keys_powerpoint_can_be_set_to(self):
        for key, value in [("window", "0,40,1200,800"), ("zoom", "75"), ("fit", "false"), ("slide", "2"),
                           ("slides", "5"), ("slideSize", "720,540"), ("view", "sorter"), ("view", "normal")]:
            self.assertTrue(run("SCBT_SelfTest", "CanSet", key, value), key)
        for key, value in [("scroll", "0.5,0.25"), ("split", "70"), ("units", "pixels"), ("theme", "#000000"),
                           ("slides", '[{"id": 256}]'), ("fit", "yes"), ("window", "1,2,3"), ("link.upgrade", "soon"),
                           ("view", "none"), ("view", "Sorter"), ("view", "")]:
            self.assertFalse(run("SCBT_SelfTest", "CanSet", key, value), (key, value))

    def test_a_case_without_a_window_is_skipped_with_the_view_it_wants(self):
        without = "case\tno window\ngiven\tslide\t2\ngiven\tview\tnone\ncall\tSCBT_Geom\nanswer\tERR|*.\n"
        self.assertEqual(run("SCBT_SelfTest", "RunAll", without).split("\n"), [
            "OK|0 of 1 contract cases passed in PowerPoint, 0 failed and 1 were skipped.",
            "SKIPPED case no window: it sets view none, which the self-test cannot set in PowerPoint."])
        # The slide sorter it can show: that case goes on to make its presentation in PowerPoint.
        with self.assertRaisesRegex(vba_subset.VbUnknown, "Application"):
            run("SCBT_SelfTest", "RunAll", without.replace("view\tnone", "view\tsorter"))

    def test_cases_it_cannot_set_up_are_skipped_by_name(self):
        text = ("# the add-in's contract\n\ncase\tscrolled\ngiven\tscroll\t0.5,0.25\ncall\tSCBT_Geom\nanswer\tOK|*\n"
                "case\tpixels\r\ngiven\tzoom\t75\r\ngiven\tunits\tpixels\r\ncall\tSCBT_Where\r\n")
        report = run("SCBT_SelfTest", "RunAll", text)
        self.assertEqual(report.split("\n"), [
            "OK|0 of 2 contract cases passed in PowerPoint, 0 failed and 2 were skipped.",
            "SKIPPED case scrolled: it sets scroll, which the self-test cannot set in PowerPoint.",
            "SKIPPED case pixels: it sets units, which the self-test cannot set in PowerPoint."])
        # A case it can set up goes on to make its scratch presentation in PowerPoint.
        with self.assertRaisesRegex(vba_subset.VbUnknown, "Application"):
            run("SCBT_SelfTest", "RunAll", "case\tplain\ncall\tSCBT_Version\nanswer\tOK|*\n")

    def test_escapes_in_other_fields(self):
        self.assertEqual(run("SCBT_SelfTest", "Unescape", "a\\tb\\nc\\\\d\\x"), "a\tb\nc\\d\\x")


def paint(text):
    record = vba_subset.default("paint", VM.types)
    ok = run("SCBT_Pen", "ReadPaint", text, [record])
    return ok, dict(record)


class TheMacrosCheckBeforeTheyTouchPowerPoint(unittest.TestCase):
    def test_colour_texts(self):
        self.assertEqual(paint("none"), (True, {"kind": 0, "colour": 0, "opacity": 255, "theme": 0}))
        self.assertEqual(paint("NONE")[0], True)
        ok, p = paint("#1F2E3D")
        self.assertEqual((ok, p["kind"], p["colour"], p["opacity"]), (True, 1, 0x3D2E1F, 255))
        ok, p = paint("#ff000080")
        self.assertEqual((ok, p["kind"], p["colour"], p["opacity"]), (True, 1, 0x0000FF, 128))
        ok, p = paint("Theme:12")
        self.assertEqual((ok, p["kind"], p["theme"]), (True, 2, 12))
        for bad in ["#12345", "#GGGGGG", "theme:0", "theme:13", "theme:", "theme:-1", "theme: 5", "red", "",
                    "#1234567", "#12345G78"]:
            self.assertFalse(paint(bad)[0], bad)

    def test_the_refusals_are_the_stand_ins(self):
        self.assertEqual(run("SCBT_Pen", "SCBT_Zoom", "100"), 'ERR|The add-in cannot set the zoom to "100".')
        for width in ["0", "-1", "8193", "abc", "", "1.5", "+5"]:
            self.assertEqual(run("SCBT_Pen", "SCBT_Slide", width),
                             "ERR|The picture width must be a whole number of pixels from 1 to 8192.", width)
        self.assertEqual(run("SCBT_Pen", "SCBT_LinkQuery", "nope"), 'ERR|The add-in has no link called "nope".')
        self.assertEqual(run("SCBT_Pen", "SCBT_LinkQuery", "Upgrade"), 'ERR|The add-in has no link called "Upgrade".')
        self.assertRegex(run("SCBT_Pen", "SCBT_Version"), r"^OK\|\d+\.\d+\.\d+$")

    def insert(self, path="M 0 0 L 10 10", stroke="#1F1F1F", width="1", fill="none", replace="", slide=""):
        return run("SCBT_Pen", "SCBT_Insert", path, stroke, width, fill, replace, slide)

    def test_insert_refuses_in_the_stand_ins_order_and_words(self):
        self.assertEqual(self.insert(path="M 1 2 M 3 4"), "ERR|A part of the drawing has no lines or curves.")
        self.assertEqual(self.insert(path=""), "ERR|There is nothing to place: the drawing is empty.")
        # A path fault comes before a colour fault, an outline before a fill, a fill before a width.
        self.assertEqual(self.insert(path="M 1 2 %", stroke="red"), 'ERR|The drawing has an unexpected character "%".')
        self.assertEqual(self.insert(stroke="red", fill="blue"), 'ERR|The outline colour "red" is not one the add-in knows.')
        self.assertEqual(self.insert(stroke=" #12345 "), 'ERR|The outline colour " #12345 " is not one the add-in knows.')
        self.assertEqual(self.insert(fill="theme:13", width="x"), 'ERR|The fill colour "theme:13" is not one the add-in knows.')
        for width in ["1584.5", "-1", "NaN", "abc", "", "1e999", "inf"]:
            self.assertEqual(self.insert(width=width),
                             f'ERR|The line width "{width}" is not a number of points from 0 to 1584.', width)

    def test_sound_requests_go_on_to_powerpoint(self):
        # Past its checks the macro asks PowerPoint for the slide, which is not here.
        for args in [{}, {"width": "0"}, {"width": "1584"}, {"width": " 2.5 "}, {"stroke": "theme:1", "fill": "#FFFFFF80"},
                     {"path": " ", "replace": "5"}, {"path": "M 0 0 C 1 1 2 2 3 3 Z", "slide": "257"}]:
            with self.assertRaisesRegex(vba_subset.VbUnknown, "Application", msg=args):
                self.insert(**args)



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

    def test_a_copy_without_addresses_says_so_in_a_note(self):
        for link in ("upgrade", "support"):
            self.assertEqual(run("SCBT_Pen", "SCBT_LinkQuery", link),
                             f"OK|soon|This copy of the add-in has no address for the {link} link yet.")
        self.assertEqual(run("SCBT_Pen", "SCBT_LinkQuery", "Support"), 'ERR|The add-in has no link called "Support".')

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


# The stand-in's own parser, built from its source for the comparison below.
PARSER_MAIN = r"""
#include "path_text.hpp"
#include <iostream>
#include <string>
using namespace scribbet::standin;
int main() {
    std::string line;
    std::cout.precision(17);
    while (std::getline(std::cin, line)) {
        std::string t;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == 'n') t += '\n', ++i;
            else t += line[i];
        }
        auto r = parsePath(t);
        if (!r.ok()) { std::cout << "ERR " << r.error << "\n"; continue; }
        std::cout << "OK";
        for (auto& s : r.subpaths) {
            std::cout << " [" << s.start.x << "," << s.start.y << (s.closed ? " Z" : "");
            for (auto& g : s.segments) {
                if (g.kind == Segment::Kind::cubic) std::cout << " C" << g.c1.x << "," << g.c1.y << "," << g.c2.x << "," << g.c2.y;
                std::cout << " " << g.to.x << "," << g.to.y;
            }
            std::cout << "]";
        }
        std::cout << "\n";
    }
}
"""


def vba_parse_line(text):
    result = parse(text)
    if isinstance(result, str):
        return "ERR " + result
    g = lambda v: "%.17g" % v
    out = "OK"
    for (x, y), segs, closed in result:
        out += f" [{g(x)},{g(y)}" + (" Z" if closed else "")
        for seg in segs:
            if seg[0]:
                out += " C" + ",".join(g(v) for v in seg[1:5])
            out += f" {g(seg[-2])},{g(seg[-1])}"
        out += "]"
    return out


class TheAddInReadsPathsAsTheStandInDoes(unittest.TestCase):
    """Thousands of path texts, sound and broken, through the add-in's parser and through the
    stand-in's (compiled from standin/path_text.cpp): the same parts or the same sentence."""

    def test_random_texts_agree(self):
        import os
        import shutil
        import subprocess
        import tempfile
        compiler = os.environ.get("CXX") or shutil.which("c++") or shutil.which("g++")
        self.assertTrue(compiler, "a C++ compiler is needed to build the stand-in's parser")
        with tempfile.TemporaryDirectory() as tmp:
            main = Path(tmp) / "parse.cpp"
            main.write_text(PARSER_MAIN)
            exe = Path(tmp) / "parse"
            subprocess.run([compiler, "-std=c++20", "-O1", f"-I{ROOT / 'standin'}", f"-I{ROOT / 'src'}", str(main),
                            str(ROOT / "standin/path_text.cpp"), str(ROOT / "src/base/text.cpp"), "-lutf8proc",
                            "-o", str(exe)], check=True)
            rng = random.Random(11)
            atoms = ["M", "L", "C", "Z", "m", "l", "z", "Q", " ", " ", ",", "1", "2.5", "-3", "+4", ".5", "5.", "1e2",
                     "1e", "-", ".", "1.5.5", "10-5", "1e999", "2000000", "\t", "\\n", "#", "e", "0", "NaN", "x",
                     "L 1 2", "C 1 2 3 4 5 6", "Z M 0 0", "L 3,4"]
            texts = []
            for _ in range(1500):
                t = "M 1 2 " if rng.random() < 0.7 else ""
                t += "".join(rng.choice(atoms) + rng.choice(["", " "]) for _ in range(rng.randint(0, 14)))
                texts.append(t)
            out = subprocess.run([str(exe)], input="\n".join(texts) + "\n", capture_output=True, text=True,
                                 check=True).stdout.split("\n")
            parsed = 0
            for text, want in zip(texts, out):
                self.assertEqual(vba_parse_line(text.replace("\\n", "\n")), want, repr(text))
                parsed += want.startswith("OK")
            self.assertGreater(parsed, 20)  # sound texts are among them, not only faults


if __name__ == "__main__":
    unittest.main()
